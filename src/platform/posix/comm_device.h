// A serial device opened through CreateFileA("\\.\COMn"): the tty in raw
// mode plus the Win32 state that termios does not carry (the full DCB,
// time-outs, queue sizes, error counters).
#pragma once

#include <memory>
#include <mutex>

#include "platform/posix/handles.h"
#include "platform/posix/win32_comm.h"

namespace kavex::posix {

class CommDevice final : public KernelObject {
public:
    // Opens COMn exclusively (share mode 0 semantics, enforced with flock so
    // that neither this nor another process can open it twice) and puts it
    // in raw mode. Null with the last error set when that fails.
    static std::shared_ptr<CommDevice> Open(int portNumber);

    explicit CommDevice(int fd);
    ~CommDevice() override;
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;

    BOOL Read(void* buffer, DWORD count, DWORD* transferred) override;
    BOOL Write(const void* buffer, DWORD count, DWORD* transferred) override;
    BOOL Flush() override;

    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB& dcb);
    BOOL GetTimeouts(COMMTIMEOUTS* timeouts);
    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
    BOOL SetQueueSizes(DWORD inQueue, DWORD outQueue);
    BOOL Purge(DWORD flags);
    BOOL ClearError(DWORD* errors, COMSTAT* status);
    BOOL SetBreak(bool on);
    BOOL GetModemStatus(DWORD* status);

private:
    // Counters of line errors at the last ClearCommError, where the driver
    // keeps them (real UARTs; a pseudo-terminal has none).
    struct LineErrorCounts {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
    };
    bool ReadLineErrorCounts(LineErrorCounts* counts) const;
    void ApplyModemLines(const DCB& dcb) const;

    const int fd_;
    std::mutex mutex_;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    DWORD inQueueSize_ = 0;
    DWORD outQueueSize_ = 0;
    LineErrorCounts errorCounts_;
};

}  // namespace kavex::posix
