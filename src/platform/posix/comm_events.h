// The line events of one serial device, for SetCommMask and WaitCommEvent.
//
// A Windows driver records each event of the mask as it happens; a wait
// ends at once when one was recorded since the last wait (or since the mask
// was set), and clears the record. A tty announces none of them, so they
// are found by comparing the device's state with what was last seen:
//   EV_RXCHAR   the input queue holds bytes that arrived since then (reads
//               through this device take theirs off what was seen);
//   EV_TXEMPTY  the output queue has drained since a write put bytes in it;
//   EV_CTS, EV_DSR, EV_RLSD, EV_RING  the modem lines (TIOCMGET) changed,
//               where the device has modem lines (a pseudo-terminal has none);
//   EV_BREAK, EV_ERR  the driver's break, framing, overrun or parity
//               counters (TIOCGICOUNT) grew, where it keeps them.
// The other events of the mask are accepted and never occur here.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/posix/win32_comm.h"

namespace kavex::posix {

class CommEventMonitor {
public:
    // Every event SetCommMask accepts.
    static constexpr DWORD kValidEvents = 0x1FFFu;

    explicit CommEventMonitor(int fd) : fd_(fd) {}

    // Whether the device has modem lines (a pseudo-terminal has none).
    bool HasModemLines() const;

    DWORD Mask() const { return mask_.load(); }
    // A new mask: nothing is recorded yet, and the device's present state is
    // what later changes are measured from. Call it with the device's
    // transfer lock held, as WaitNeeds.
    void SetMask(DWORD mask);

    // A read took `bytes` from the input queue; a write put bytes in the
    // output queue; the input queue was emptied.
    void NoteReceived(DWORD bytes);
    void NoteSent();
    void NoteInputPurged();

    // The events of the mask recorded so far, after looking at the device;
    // the record is cleared.
    DWORD TakeEvents();

    // What a waiter must watch to see the next event: POLLIN on the device
    // (in *pollEvents), and how often to look again (*tickMs, -1: never).
    void WaitNeeds(short* pollEvents, std::int64_t* tickMs) const;

private:
    struct LineState {
        int modemLines = 0;
        int breaks = 0;
        int lineErrors = 0;
    };
    bool ReadLineState(LineState* state) const;
    // Records what changed since the last look; with mutex_ held.
    void LookLocked();

    const int fd_;
    // What the device can report, learnt when a mask is set.
    bool hasModemLines_ = false;
    bool hasLineCounters_ = false;
    std::atomic<DWORD> mask_{0};
    std::atomic<bool> outputBusy_{false};

    mutable std::mutex mutex_;
    DWORD recorded_ = 0;
    int inputSeen_ = 0;  // bytes of the input queue already seen
    LineState lineSeen_;
};

}  // namespace kavex::posix
