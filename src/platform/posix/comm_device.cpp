#include "platform/posix/comm_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/posix/dcb_termios.h"
#include "platform/posix/devices.h"
#include "platform/posix/errors.h"

namespace kavex::posix {

namespace {

std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A device whose other side is gone (an unplugged adapter, a pseudo-terminal
// whose master closed) reads as end of file or EIO; Windows reports such a
// device as no longer connected.
BOOL FailDeviceGone() { return Fail(ERROR_DEVICE_NOT_CONNECTED); }

// Waits up to `timeoutMs` (-1: no limit) for `events` on fd. Returns the
// poll result: >0 ready (revents in *revents), 0 timed out, <0 error.
int WaitFor(int fd, short events, std::int64_t timeoutMs, short* revents) {
    pollfd entry{fd, events, 0};
    const int limit = timeoutMs < 0 ? -1 : static_cast<int>(timeoutMs > INT32_MAX ? INT32_MAX : timeoutMs);
    int result;
    do {
        result = poll(&entry, 1, limit);
    } while (result < 0 && errno == EINTR);
    *revents = entry.revents;
    return result;
}

bool IsNoLineError(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace

std::shared_ptr<CommDevice> CommDevice::Open(int portNumber) {
    const std::string path = ComDevicePath(portNumber);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailWithErrno();
        return nullptr;
    }
    termios settings{};
    if (!isatty(fd) || tcgetattr(fd, &settings) != 0) {
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
    // that end of file can only mean a hang-up.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        FailWithErrno();
        close(fd);
        return nullptr;
    }
    auto device = std::make_shared<CommDevice>(fd);
    device->dcb_ = DcbFromTermios(settings);
    device->ReadLineErrorCounts(&device->errorCounts_);
    return device;
}

CommDevice::CommDevice(int fd) : fd_(fd) {}

CommDevice::~CommDevice() { close(fd_); }

BOOL CommDevice::Read(void* buffer, DWORD count, DWORD* transferred) {
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts = timeouts_;
    }
    *transferred = 0;
    if (count == 0) return TRUE;

    // The Win32 read time-out rules:
    //  - interval MAXDWORD, both totals 0: return at once with what is queued;
    //  - interval MAXDWORD, multiplier MAXDWORD, constant in between: wait up
    //    to the constant for the first byte, then return with what is queued;
    //  - otherwise a total limit (multiplier * count + constant, when either
    //    is set) and an interval limit between bytes (when set), else wait
    //    for all `count` bytes.
    const DWORD interval = timeouts.ReadIntervalTimeout;
    const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const DWORD constant = timeouts.ReadTotalTimeoutConstant;
    const bool immediate = interval == MAXDWORD && multiplier == 0 && constant == 0;
    const bool firstByte =
        interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD;
    std::int64_t totalMs = -1;
    if (firstByte) {
        totalMs = constant;
    } else if (!immediate && (multiplier != 0 || constant != 0)) {
        totalMs = static_cast<std::int64_t>(multiplier) * count + constant;
    }
    const bool useInterval = !immediate && !firstByte && interval != 0 && interval != MAXDWORD;

    auto* bytes = static_cast<unsigned char*>(buffer);
    const std::int64_t start = NowMs();
    std::int64_t lastByte = start;
    while (*transferred < count) {
        const ssize_t got = read(fd_, bytes + *transferred, count - *transferred);
        if (got > 0) {
            *transferred += static_cast<DWORD>(got);
            lastByte = NowMs();
            if (firstByte || immediate) break;
            continue;
        }
        if (got == 0) return FailDeviceGone();
        if (errno == EINTR) continue;
        if (errno == EIO) return FailDeviceGone();
        if (errno != EAGAIN) return FailWithErrno();
        if (immediate) break;

        // Time left before a limit ends the read; -1 while none applies.
        std::int64_t waitMs = -1;
        const std::int64_t now = NowMs();
        if (totalMs >= 0) waitMs = std::max<std::int64_t>(0, totalMs - (now - start));
        if (useInterval && *transferred > 0) {
            const std::int64_t intervalLeft = std::max<std::int64_t>(0, interval - (now - lastByte));
            waitMs = waitMs < 0 ? intervalLeft : std::min(waitMs, intervalLeft);
        }
        if (waitMs == 0) break;
        short revents = 0;
        const int ready = WaitFor(fd_, POLLIN, waitMs, &revents);
        if (ready < 0) return FailWithErrno();
        if (ready == 0) break;
        // POLLHUP or POLLERR: the next read reports the device as gone.
    }
    return TRUE;
}

BOOL CommDevice::Write(const void* buffer, DWORD count, DWORD* transferred) {
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts = timeouts_;
    }
    *transferred = 0;
    std::int64_t totalMs = -1;
    if (timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0) {
        totalMs = static_cast<std::int64_t>(timeouts.WriteTotalTimeoutMultiplier) * count +
                  timeouts.WriteTotalTimeoutConstant;
    }
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    const std::int64_t start = NowMs();
    while (*transferred < count) {
        const ssize_t put = write(fd_, bytes + *transferred, count - *transferred);
        if (put > 0) {
            *transferred += static_cast<DWORD>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EIO) return FailDeviceGone();
        if (put < 0 && errno != EAGAIN) return FailWithErrno();
        std::int64_t waitMs = -1;
        if (totalMs >= 0) {
            waitMs = totalMs - (NowMs() - start);
            if (waitMs <= 0) break;  // a write time-out completes the call short
        }
        short revents = 0;
        const int ready = WaitFor(fd_, POLLOUT, waitMs, &revents);
        if (ready < 0) return FailWithErrno();
        if (ready == 0) break;
        if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT)) return FailDeviceGone();
    }
    return TRUE;
}

BOOL CommDevice::Flush() {
    while (tcdrain(fd_) != 0) {
        if (errno != EINTR) return errno == EIO ? FailDeviceGone() : FailWithErrno();
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
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0) return FailWithErrno();
    if (!ApplyDcbToTermios(dcb, &settings)) return Fail(ERROR_INVALID_PARAMETER);
    if (tcsetattr(fd_, TCSANOW, &settings) != 0) return FailWithErrno();
    ApplyModemLines(dcb);
    dcb_ = dcb;
    return TRUE;
}

void CommDevice::ApplyModemLines(const DCB& dcb) const {
    // DTR and RTS follow the control modes where the device has modem lines;
    // a pseudo-terminal has none, and its refusal is no error.
    int set = 0, clear = 0;
    (dcb.fDtrControl == DTR_CONTROL_DISABLE ? clear : set) |= TIOCM_DTR;
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE) clear |= TIOCM_RTS;
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE) set |= TIOCM_RTS;
    if (set != 0) ioctl(fd_, TIOCMBIS, &set);
    if (clear != 0) ioctl(fd_, TIOCMBIC, &clear);
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
    // Transfers here are synchronous, so there is nothing pending to abort.
    if ((flags & PURGE_TXCLEAR) && tcflush(fd_, TCOFLUSH) != 0) return FailWithErrno();
    if ((flags & PURGE_RXCLEAR) && tcflush(fd_, TCIFLUSH) != 0) return FailWithErrno();
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
        if (ReadLineErrorCounts(&now)) {
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
        if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) status->cbOutQue = static_cast<DWORD>(queued);
    }
    return TRUE;
}

BOOL CommDevice::SetBreak(bool on) {
    if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0 && !IsNoLineError(errno)) return FailWithErrno();
    return TRUE;
}

BOOL CommDevice::GetModemStatus(DWORD* status) {
    int lines = 0;
    *status = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
        // A pseudo-terminal has no modem lines: all of them read as off.
        return IsNoLineError(errno) ? TRUE : FailWithErrno();
    }
    if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
    if (lines & TIOCM_RI) *status |= MS_RING_ON;
    if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
    return TRUE;
}

}  // namespace kavex::posix
