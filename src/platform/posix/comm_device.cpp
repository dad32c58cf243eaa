#include "platform/posix/comm_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <new>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <utility>

#include "platform/posix/dcb_termios.h"
#include "platform/posix/devices.h"
#include "platform/posix/errors.h"

namespace kavex::posix {

namespace {

// A device whose other side is gone (an unplugged adapter, a pseudo-terminal
// whose master closed) reads as end of file or EIO; Windows reports such a
// device as no longer connected.
BOOL FailDeviceGone() { return Fail(ERROR_DEVICE_NOT_CONNECTED); }

}  // namespace

std::shared_ptr<CommDevice> CommDevice::Open(int portNumber, bool overlapped) {
    const int fd = OpenComDevice(portNumber, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailWithErrno();
        return nullptr;
    }
    // tcgetattr fails on anything that is not a terminal.
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        close(fd);
        Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // Raw mode: no line editing, echo, signals or byte translation. The
    // line settings (speed, framing, flow control) stay as the device has
    // them, as a Windows driver keeps them from one open to the next. VMIN 1
    // with a non-blocking descriptor makes an empty queue read as EAGAIN, so
    // that end of file can only mean a hang-up. A device left in raw mode by
    // the last open is not set again.
    termios raw = settings;
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (!SameTermios(raw, settings) && tcsetattr(fd, TCSANOW, &raw) != 0) {
        FailWithErrno();
        close(fd);
        return nullptr;
    }
    std::shared_ptr<CommDevice> device;
    try {
        device = std::make_shared<CommDevice>(fd, overlapped);
    } catch (const std::bad_alloc&) {
        close(fd);  // with it the exclusive hold on the device
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    device->termios_ = raw;
    device->dcb_ = DcbFromTermios(raw);
    device->hasLineCounters_ = device->ReadLineErrorCounts(&device->errorCounts_);
    return device;
}

CommDevice::CommDevice(int fd, bool overlapped) : fd_(fd), overlapped_(overlapped), events_(fd) {}

CommDevice::~CommDevice() { close(fd_); }

COMMTIMEOUTS CommDevice::Timeouts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeouts_;
}

BOOL CommDevice::Flush() {
    // Only this handle writes to the device (it is held exclusively): when
    // it wrote nothing since the output was last drained or purged, there is
    // nothing to wait for.
    if (!outputSent_.exchange(false)) return TRUE;
    while (tcdrain(fd_) != 0) {
        if (errno == EINTR) continue;
        outputSent_ = true;
        return errno == EIO ? FailDeviceGone() : FailWithErrno();
    }
    return TRUE;
}

BOOL CommDevice::GetState(DCB* dcb) {
    std::lock_guard<std::mutex> lock(mutex_);
    *dcb = dcb_;
    return TRUE;
}

BOOL CommDevice::SetState(const DCB& dcb) {
    if (!ValidateDcb(dcb)) return FALSE;
    std::lock_guard<std::mutex> lock(mutex_);
    termios settings = termios_;
    if (!ApplyDcbToTermios(dcb, &settings)) return Fail(ERROR_INVALID_PARAMETER);
    if (!SameTermios(settings, termios_)) {
        if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
            FailWithErrno();
            // The tty may have taken part of it (glibc checks a pseudo-
            // terminal's result afterwards): learn what it has now.
            tcgetattr(fd_, &termios_);
            return FALSE;
        }
        termios_ = settings;
    }
    ApplyModemLinesLocked(dcb);
    dcb_ = dcb;
    return TRUE;
}

void CommDevice::ApplyModemLinesLocked(const DCB& dcb) {
    // DTR and RTS follow the control modes where the device has modem lines;
    // a pseudo-terminal has none, and its refusal is no error. Lines already
    // as the modes want them (the last SetState's, with no EscapeCommFunction
    // since) are left alone.
    if (modemLines_ == ModemLines::kNone) return;
    int set = 0, clear = 0;
    (dcb.fDtrControl == DTR_CONTROL_DISABLE ? clear : set) |= TIOCM_DTR;
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE) clear |= TIOCM_RTS;
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE) set |= TIOCM_RTS;
    if (appliedLines_.valid && appliedLines_.set == set && appliedLines_.clear == clear) return;
    bool applied = true;
    for (const auto& [request, lines] : {std::pair<unsigned long, int>{TIOCMBIS, set}, {TIOCMBIC, clear}}) {
        if (lines == 0 || ioctl(fd_, request, &lines) == 0) continue;
        if (IsNoSuchLine(errno)) {
            modemLines_ = ModemLines::kNone;
            return;
        }
        applied = false;
    }
    if (applied) modemLines_ = ModemLines::kPresent;
    appliedLines_ = {applied, set, clear};
}

void CommDevice::ForgetAppliedModemLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    appliedLines_.valid = false;
}

BOOL CommDevice::GetTimeouts(COMMTIMEOUTS* timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    *timeouts = timeouts_;
    return TRUE;
}

BOOL CommDevice::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    // Windows refuses MAXDWORD for all three read fields at once.
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts.ReadTotalTimeoutConstant == MAXDWORD) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_ = timeouts;
    immediateReads_.store(ReadLimits(timeouts, 1).Immediate(), std::memory_order_release);
    return TRUE;
}

BOOL CommDevice::SetQueueSizes(DWORD inQueue, DWORD outQueue) {
    // The tty driver's queues are fixed; the sizes are recorded as the
    // driver's recommendation, which is all Windows promises either.
    std::lock_guard<std::mutex> lock(mutex_);
    inQueueSize_ = inQueue;
    outQueueSize_ = outQueue;
    return TRUE;
}

BOOL CommDevice::Purge(DWORD flags) {
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    AbortQueued(flags & (PURGE_TXABORT | PURGE_RXABORT));
    if ((flags & PURGE_TXCLEAR) && outputSincePurge_.exchange(false)) {
        // Cleared first: a write made meanwhile sets them again.
        outputSent_ = false;
        if (tcflush(fd_, TCOFLUSH) != 0) {
            outputSent_ = true;
            outputSincePurge_ = true;
            return FailWithErrno();
        }
    }
    if (flags & PURGE_RXCLEAR) {
        if (tcflush(fd_, TCIFLUSH) != 0) return FailWithErrno();
        events_.NoteInputPurged();
    }
    return TRUE;
}

bool CommDevice::ReadLineErrorCounts(LineErrorCounts* counts) const {
    serial_icounter_struct icount{};
    if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) return false;
    counts->frame = icount.frame;
    counts->overrun = icount.overrun;
    counts->parity = icount.parity;
    counts->brk = icount.brk;
    counts->bufferOverrun = icount.buf_overrun;
    return true;
}

BOOL CommDevice::ClearError(DWORD* errors, COMSTAT* status) {
    DWORD mask = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        LineErrorCounts now;
        if (hasLineCounters_ && ReadLineErrorCounts(&now)) {
            if (now.frame != errorCounts_.frame) mask |= CE_FRAME;
            if (now.overrun != errorCounts_.overrun) mask |= CE_OVERRUN;
            if (now.parity != errorCounts_.parity) mask |= CE_RXPARITY;
            if (now.brk != errorCounts_.brk) mask |= CE_BREAK;
            if (now.bufferOverrun != errorCounts_.bufferOverrun) mask |= CE_RXOVER;
            errorCounts_ = now;
        }
    }
    if (errors != nullptr) *errors = mask;
    if (status != nullptr) {
        *status = COMSTAT{};
        int queued = 0;
        if (ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0) status->cbInQue = static_cast<DWORD>(queued);
        queued = 0;
        if (outputSincePurge_.load() && ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0)
            status->cbOutQue = static_cast<DWORD>(queued);
    }
    return TRUE;
}

BOOL CommDevice::SetBreak(bool on) {
    if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0 && !IsNoSuchLine(errno)) return FailWithErrno();
    return TRUE;
}

BOOL CommDevice::GetModemStatus(DWORD* status) {
    int lines = 0;
    *status = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    // A pseudo-terminal has no modem lines: all of them read as off.
    if (modemLines_ == ModemLines::kNone) return TRUE;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
        if (!IsNoSuchLine(errno)) return FailWithErrno();
        modemLines_ = ModemLines::kNone;
        return TRUE;
    }
    modemLines_ = ModemLines::kPresent;
    if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
    if (lines & TIOCM_RI) *status |= MS_RING_ON;
    if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
    return TRUE;
}

}  // namespace kavex::posix
