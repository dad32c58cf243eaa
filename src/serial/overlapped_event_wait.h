// OverlappedEventWait: an overlapped wait for line events on a serial port
// (CSerialPort::WaitEventOverlapped) that never leaves its transfer behind.
//
// A pending wait writes its OVERLAPPED and its event mask when it ends, which
// may be long after the call that started it, so both must outlive it. This
// object keeps them on the heap and ends the wait before it lets them go:
//  - Cancel ends it through CancelPendingIo and returns once it has ended.
//    A system whose serial driver does not end an event wait on CancelIo
//    (Wine's does not) gets the event mask set again, which ends a pending
//    wait with no events, as SetCommMask is documented to do.
//    When it cannot be cancelled (no "CancelIo": ERROR_CALL_NOT_IMPLEMENTED),
//    it closes the port, which ends every transfer on it, waits for that
//    end, and only then lets the error go on.
//  - Destroyed with the wait pending (an exception on its way out), it does
//    the same: closes the port and waits for the end.
// A wait that still has not ended kEndLimitMs after that (a driver that
// never completes it) keeps its storage for good, so that nothing is ever
// written into freed memory.
//
// `event`, the OVERLAPPED's manual-reset event, may be set by others too
// (kavexctl monitor's stop signal sets it to wake its wait): whether the wait
// has ended is read from the OVERLAPPED, never from the event alone.
//
// Header only: the tools and the tests use it, the module does not.
#pragma once

#include <chrono>
#include <memory>
#include <new>

#include "platform/win32.h"
#include "serial/serial_exception.h"
#include "serial/serial_port.h"

namespace kavex::serial {

class OverlappedEventWait {
public:
    static constexpr long kEndLimitMs = 5000;
    // How long a cancelled wait is given before its mask is set again.
    static constexpr long kCancelLimitMs = 200;

    OverlappedEventWait(CSerialPort& port, HANDLE event) : port_(port), event_(event) {}
    ~OverlappedEventWait() {
        if (pending_) CloseAndAwaitEnd();
    }
    OverlappedEventWait(const OverlappedEventWait&) = delete;
    OverlappedEventWait& operator=(const OverlappedEventWait&) = delete;

    // Starts a wait for the events of the port's event mask, once the last
    // wait has ended (one still pending throws ERROR_IO_PENDING). TRUE when one had already occurred
    // (Events() has them), FALSE while the wait is pending. A wait that cannot start throws its serial error.
    BOOL Start() {
        if (pending_) ThrowSerialException(ERROR_IO_PENDING);
        if (!transfer_) {
            transfer_.reset(new (std::nothrow) Transfer());
            if (!transfer_) ThrowSerialException(ERROR_NOT_ENOUGH_MEMORY);
        }
        *transfer_ = Transfer();
        transfer_->overlapped.hEvent = event_;
        ResetEvent(event_);  // set again by the end of this wait (or by others)
        const BOOL ended = port_.WaitEventOverlapped(transfer_->events, transfer_->overlapped);
        pending_ = !ended;
        return ended;
    }

    // TRUE once the wait has ended, at once and without waiting; a wait that
    // ended in an error throws it.
    BOOL Ended() {
        if (!pending_) return TRUE;
        if (!HasEnded()) return FALSE;
        pending_ = false;
        DWORD transferred = 0;
        port_.QueryOverlappedResult(transfer_->overlapped, transferred, FALSE);
        return TRUE;
    }

    // Ends a pending wait and returns once it has ended (see above: when it
    // cannot be cancelled, the port is closed before the error is thrown).
    void Cancel() {
        if (!pending_) return;
        try {
            port_.CancelPendingIo();
        } catch (CSerialException*) {
            CloseAndAwaitEnd();
            throw;
        }
        if (!AwaitEnd(kCancelLimitMs)) {
            DWORD mask = 0;
            if (GetCommMask(port_.m_hPort, &mask)) SetCommMask(port_.m_hPort, mask);
        }
        if (AwaitEnd(kEndLimitMs)) {
            pending_ = false;
        } else {
            CloseAndAwaitEnd();
        }
    }

    bool Pending() const { return pending_; }
    // The events that ended the last wait (0 before any, and after a wait
    // that ended in an error).
    DWORD Events() const { return transfer_ ? transfer_->events : 0; }
    // The OVERLAPPED of the last wait (null before any).
    const OVERLAPPED* Overlapped() const { return transfer_ ? &transfer_->overlapped : nullptr; }

private:
    struct Transfer {
        OVERLAPPED overlapped{};
        DWORD events = 0;
    };

    // Whether the wait has ended, as its OVERLAPPED says (GetOverlappedResult
    // without waiting does not use the handle, which may be closed by now).
    bool HasEnded() const {
        DWORD transferred = 0;
        return GetOverlappedResult(port_.m_hPort, &transfer_->overlapped, &transferred, FALSE) != FALSE ||
               GetLastError() != ERROR_IO_INCOMPLETE;
    }

    // Waits up to `limitMs` for the end; false when it has not come.
    bool AwaitEnd(long limitMs) const {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            if (HasEnded()) return true;
            // Cleared, then looked at again: an end that came in between is
            // seen now, and a later one sets the event again.
            ResetEvent(event_);
            if (HasEnded()) return true;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
            if (left <= 0) return false;
            WaitForSingleObject(event_, static_cast<DWORD>(left));
        }
    }

    void CloseAndAwaitEnd() noexcept {
        port_.Close();
        // Never ended: its storage is left to it for good.
        if (!AwaitEnd(kEndLimitMs)) static_cast<void>(transfer_.release());
        pending_ = false;
    }

    CSerialPort& port_;
    HANDLE event_;
    std::unique_ptr<Transfer> transfer_;
    bool pending_ = false;
};

}  // namespace kavex::serial
