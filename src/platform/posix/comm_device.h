// A serial device opened through CreateFileA("\\.\COMn"): the tty in raw
// mode plus the Win32 state that termios does not carry (the full DCB,
// time-outs, queue sizes, error counters, the event mask), and its
// transfers: synchronous ones run on the caller's thread; overlapped ones
// (a handle opened with FILE_FLAG_OVERLAPPED) end at once when they can and
// otherwise wait in the device's queues, one queue for reads and one for
// writes, each served in order, until the I/O service (io_service.h) ends
// them.
#pragma once

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/posix/comm_events.h"
#include "platform/posix/handles.h"
#include "platform/posix/overlapped.h"
#include "platform/posix/win32_comm.h"

namespace kavex::posix {

class CommDevice final : public KernelObject, public std::enable_shared_from_this<CommDevice> {
public:
    // Opens COMn exclusively (share mode 0 semantics, enforced with flock so
    // that neither this nor another process can open it twice) and puts it
    // in raw mode. Null with the last error set when that fails.
    static std::shared_ptr<CommDevice> Open(int portNumber, bool overlapped);

    CommDevice(int fd, bool overlapped);
    ~CommDevice() override;
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;

    // Synchronous transfers.
    BOOL Read(void* buffer, DWORD count, DWORD* transferred) override;
    // The synchronous read when the time-outs make reads return at once with
    // what is queued (a reader port's poll): one read(2), made inline in
    // ReadFile so that the poll returns through as few frames as it can
    // after its system call (on kernels that clear the return predictor on
    // the way back, each frame costs a mispredicted return). False, with
    // nothing done, under other time-outs.
    bool ReadQueued(void* buffer, DWORD count, DWORD* transferred, BOOL* result) {
        if (!immediateReads_.load(std::memory_order_acquire)) return false;
        *transferred = 0;
        *result = TRUE;
        if (count == 0) return true;
        ssize_t got;
        do {
            got = ::read(fd_, buffer, count);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            *transferred = static_cast<DWORD>(got);
            events_.NoteReceived(static_cast<DWORD>(got));
        } else if (got == 0 || errno != EAGAIN) {
            *result = FailRead(got == 0 ? 0 : errno);
        }
        return true;
    }
    BOOL Write(const void* buffer, DWORD count, DWORD* transferred) override;
    BOOL Flush() override;

    // ReadFile/WriteFile given an OVERLAPPED (routine null), and
    // ReadFileEx/WriteFileEx. On a handle opened without FILE_FLAG_OVERLAPPED
    // the OVERLAPPED forms run synchronously and the Ex forms are refused.
    BOOL StartTransfer(PendingTransfer::Kind kind, void* buffer, DWORD count, DWORD* transferred,
                       OVERLAPPED* overlapped, LPOVERLAPPED_COMPLETION_ROUTINE routine);
    // CancelIo: the calling thread's pending transfers and event wait end
    // with ERROR_OPERATION_ABORTED.
    void CancelCallerTransfers();
    // The handle is being closed: every pending transfer ends aborted.
    void Close();

    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB& dcb);
    BOOL GetTimeouts(COMMTIMEOUTS* timeouts);
    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
    BOOL SetQueueSizes(DWORD inQueue, DWORD outQueue);
    BOOL Purge(DWORD flags);
    BOOL ClearError(DWORD* errors, COMSTAT* status);
    BOOL SetBreak(bool on);
    BOOL GetModemStatus(DWORD* status);
    // EscapeCommFunction moved DTR or RTS: the next SetState applies the
    // control modes to them again, as a Windows driver does.
    void ForgetAppliedModemLines();

    // Line events (comm_events.h).
    BOOL SetEventMask(DWORD mask);
    DWORD EventMask() const { return events_.Mask(); }
    BOOL WaitEvent(DWORD* events, OVERLAPPED* overlapped);

    // Line control: EscapeCommFunction, TransmitCommChar, GetCommProperties.
    BOOL Escape(DWORD function);
    BOOL TransmitChar(char c);
    BOOL GetProperties(COMMPROP* properties);

    // For the I/O service: advances what is pending as far as the device
    // allows now and says what to wait for before trying again.
    struct Wants {
        short pollEvents = 0;
        std::int64_t waitMs = -1;  // -1: no time limit
    };
    Wants AdvancePending();
    int Descriptor() const { return fd_; }

private:
    enum class Step { kDone, kWait };
    // A read(2) that failed with `error` (0: end of file); FALSE with the
    // last error set.
    static BOOL FailRead(int error);
    // One attempt without blocking. kDone: the transfer has ended (*error 0
    // or its code); kWait: it waits for more, up to *waitMs (-1: no limit).
    Step ReadStep(TransferProgress& read, std::int64_t* waitMs, DWORD* error);
    Step WriteStep(TransferProgress& write, std::int64_t* waitMs, DWORD* error);
    Step Advance(PendingTransfer& transfer, std::int64_t* waitMs, DWORD* error);
    void StartProgress(PendingTransfer& transfer);
    // With ioMutex_ held: ends the transfers that `matches` picks.
    template <class Predicate>
    void AbortLocked(std::list<std::shared_ptr<PendingTransfer>>& queue, Predicate matches);
    // With ioMutex_ held: ends the pending event wait.
    void EndWaitLocked(DWORD error, DWORD events);
    // After bytes were written outside the I/O service: wakes it when an
    // event wait is pending (EV_TXEMPTY is to be looked for).
    void WakeEventWait();
    // PurgeComm's PURGE_RXABORT and PURGE_TXABORT: every pending read or
    // write ends aborted, whichever thread started it.
    void AbortQueued(DWORD purgeFlags);
    // With ioMutex_ held: sends the immediate character. 0 when it went,
    // ERROR_IO_PENDING while the line cannot take it, else the error.
    DWORD SendImmediateLocked();

    // Counters of line errors at the last ClearCommError, where the driver
    // keeps them (real UARTs; a pseudo-terminal has none).
    struct LineErrorCounts {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
    };
    bool ReadLineErrorCounts(LineErrorCounts* counts) const;
    // With mutex_ held: DTR and RTS as the DCB's control modes want them.
    void ApplyModemLinesLocked(const DCB& dcb);
    COMMTIMEOUTS Timeouts();

    // What the device has, kept so that what it has already is not applied
    // again: the layer holds the tty exclusively (flock), so only this
    // object changes its settings while it is open.
    enum class ModemLines { kUnknown, kNone, kPresent };
    struct AppliedLines {
        bool valid = false;  // false: apply them at the next SetState
        int set = 0;
        int clear = 0;
    };

    const int fd_;
    const bool overlapped_;
    // Set once by Open, before the device is shared.
    bool hasLineCounters_ = false;  // TIOCGICOUNT answers (real UARTs)
    std::mutex mutex_;              // the settings below
    DCB dcb_{};
    termios termios_{};  // the tty's settings, as last read or applied
    ModemLines modemLines_ = ModemLines::kUnknown;
    AppliedLines appliedLines_;
    COMMTIMEOUTS timeouts_{};
    // The time-outs are those of reads that return at once with what is
    // queued (the reader's setting): the synchronous read's fast path.
    std::atomic<bool> immediateReads_{false};
    // A byte was written since the output was last drained or purged:
    // FlushFileBuffers has something to wait for.
    std::atomic<bool> outputSent_{false};
    // A byte was written since the output was last purged: only then can the
    // output queue hold anything (the device is held exclusively), so a
    // purge or a queue count of a port that never wrote, such as a card
    // reader's, asks the device nothing.
    std::atomic<bool> outputSincePurge_{false};
    DWORD inQueueSize_ = 0;
    DWORD outQueueSize_ = 0;
    LineErrorCounts errorCounts_;
    CommEventMonitor events_;

    // Pending transfers, in order. Lock order: the I/O service's lock, then
    // ioMutex_, then the wait lock.
    std::mutex ioMutex_;
    std::list<std::shared_ptr<PendingTransfer>> reads_;
    std::list<std::shared_ptr<PendingTransfer>> writes_;
    std::shared_ptr<PendingTransfer> eventWait_;
    std::optional<unsigned char> immediateChar_;  // TransmitCommChar's, not yet sent
};

}  // namespace kavex::posix
