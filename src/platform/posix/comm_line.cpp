// Line events and line control of a serial device: SetCommMask and
// WaitCommEvent, EscapeCommFunction and GetCommProperties.
#include <sys/ioctl.h>
#include <termios.h>

#include "platform/posix/comm_device.h"
#include "platform/posix/errors.h"
#include "platform/posix/io_service.h"

namespace kavex::posix {

namespace {

// Raises or lowers one modem line. A device without modem lines (a
// pseudo-terminal) answers as a Windows serial driver answers a request it
// does not support: ERROR_INVALID_PARAMETER.
BOOL SetModemLine(int fd, int line, bool on) {
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return TRUE;
    return IsNoSuchLine(errno) ? Fail(ERROR_INVALID_PARAMETER) : FailWithErrno();
}

}  // namespace

BOOL CommDevice::SetEventMask(DWORD mask) {
    if (mask & ~CommEventMonitor::kValidEvents) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(ioMutex_);
    events_.SetMask(mask);
    // A wait in progress ends at once, with no events.
    if (eventWait_) EndWaitLocked(0, 0);
    return TRUE;
}

BOOL CommDevice::WaitEvent(DWORD* events, OVERLAPPED* overlapped) {
    if (events == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    // Without FILE_FLAG_OVERLAPPED, or without an OVERLAPPED, the call waits
    // for the end itself.
    const bool returnsPending = overlapped_ && overlapped != nullptr;
    OVERLAPPED own{};
    OVERLAPPED* target = overlapped != nullptr ? overlapped : &own;
    auto wait = std::make_shared<PendingTransfer>(PendingTransfer::Kind::kWaitEvent);
    wait->eventMask = events;
    {
        std::lock_guard<std::mutex> lock(ioMutex_);
        // As the serial driver: no mask, or a wait already under way, is a
        // request it refuses.
        if (events_.Mask() == 0 || eventWait_) return Fail(ERROR_INVALID_PARAMETER);
        BeginTransfer(*wait, target, nullptr);
        eventWait_ = wait;
        const DWORD happened = events_.TakeEvents();
        if (happened != 0) {
            EndWaitLocked(0, happened);
            return TRUE;
        }
    }
    if (!WatchDevice(shared_from_this())) {
        std::lock_guard<std::mutex> lock(ioMutex_);
        if (eventWait_ == wait) EndWaitLocked(ERROR_NOT_ENOUGH_MEMORY, 0);
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (returnsPending) return Fail(ERROR_IO_PENDING);
    auto waits = LockWaits();
    WaitUntil(waits, INFINITE, false, [target] { return target->Internal != STATUS_PENDING; });
    const auto error = static_cast<DWORD>(target->Internal);
    return error == 0 ? TRUE : Fail(error);
}

BOOL CommDevice::Escape(DWORD function) {
    DCB dcb{};
    GetState(&dcb);
    switch (function) {
        // As if an XOFF, or an XON, had come: output stops, or goes on.
        case SETXOFF: return tcflow(fd_, TCOOFF) == 0 ? TRUE : FailWithErrno();
        case SETXON: return tcflow(fd_, TCOON) == 0 ? TRUE : FailWithErrno();
        // A line under handshake control is the driver's, not the caller's.
        case SETRTS:
        case CLRRTS:
            if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
                return Fail(ERROR_INVALID_PARAMETER);
            }
            ForgetAppliedModemLines();
            return SetModemLine(fd_, TIOCM_RTS, function == SETRTS);
        case SETDTR:
        case CLRDTR:
            if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) return Fail(ERROR_INVALID_PARAMETER);
            ForgetAppliedModemLines();
            return SetModemLine(fd_, TIOCM_DTR, function == SETDTR);
        case SETBREAK: return SetBreak(true);
        case CLRBREAK: return SetBreak(false);
        // RESETDEV is for printer ports; serial drivers refuse it.
        default: return Fail(ERROR_INVALID_PARAMETER);
    }
}

BOOL CommDevice::GetProperties(COMMPROP* properties) {
    const bool lines = events_.HasModemLines();
    *properties = COMMPROP{};
    properties->wPacketLength = sizeof(COMMPROP);
    properties->wPacketVersion = 2;
    properties->dwServiceMask = SP_SERIALCOMM;
    properties->dwMaxBaud = BAUD_USER;  // any rate of the tty driver's list
    properties->dwProvSubType = PST_RS232;
    properties->dwProvCapabilities = PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR | PCF_TOTALTIMEOUTS |
                                     PCF_INTTIMEOUTS | PCF_SPECIALCHARS |
                                     (lines ? PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD : 0);
    properties->dwSettableParams = SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING |
                                   SP_PARITY_CHECK | (lines ? SP_RLSD : 0);
    properties->dwSettableBaud = BAUD_075 | BAUD_110 | BAUD_134_5 | BAUD_150 | BAUD_300 | BAUD_600 |
                                 BAUD_1200 | BAUD_1800 | BAUD_2400 | BAUD_4800 | BAUD_9600 | BAUD_19200 |
                                 BAUD_38400 | BAUD_57600 | BAUD_115200 | BAUD_USER;
    properties->wSettableData = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
    properties->wSettableStopParity = STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE | PARITY_ODD |
                                      PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
    std::lock_guard<std::mutex> lock(mutex_);
    properties->dwCurrentTxQueue = outQueueSize_;
    properties->dwCurrentRxQueue = inQueueSize_;
    return TRUE;
}

}  // namespace kavex::posix
