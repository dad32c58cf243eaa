#include "platform/posix/comm_events.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace kavex::posix {

namespace {

constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kLineEvents = EV_BREAK | EV_ERR;
// How often a waiter looks at what no descriptor announces.
constexpr std::int64_t kLookIntervalMs = 10;

int QueuedBytes(int fd, unsigned long request) {
    int queued = 0;
    return ioctl(fd, request, &queued) == 0 && queued > 0 ? queued : 0;
}

}  // namespace

bool CommEventMonitor::HasModemLines() const {
    int lines = 0;
    return ioctl(fd_, TIOCMGET, &lines) == 0;
}

bool CommEventMonitor::ReadLineState(LineState* state) const {
    if (hasModemLines_ && ioctl(fd_, TIOCMGET, &state->modemLines) != 0) return false;
    if (hasLineCounters_) {
        serial_icounter_struct counters{};
        if (ioctl(fd_, TIOCGICOUNT, &counters) != 0) return false;
        state->breaks = counters.brk;
        state->lineErrors = counters.frame + counters.overrun + counters.parity + counters.buf_overrun;
    }
    return true;
}

void CommEventMonitor::SetMask(DWORD mask) {
    std::lock_guard<std::mutex> lock(mutex_);
    hasModemLines_ = HasModemLines();
    serial_icounter_struct counters{};
    hasLineCounters_ = ioctl(fd_, TIOCGICOUNT, &counters) == 0;
    mask_ = mask;
    LookLocked();
    recorded_ = 0;
}

void CommEventMonitor::NoteReceived(DWORD bytes) {
    if (mask_.load() == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // Bytes beyond those seen arrived since the last look.
    if (bytes > static_cast<DWORD>(inputSeen_)) {
        recorded_ |= EV_RXCHAR & mask_.load();
        inputSeen_ = 0;
    } else {
        inputSeen_ -= static_cast<int>(bytes);
    }
}

void CommEventMonitor::NoteSent() { outputBusy_ = true; }

void CommEventMonitor::NoteInputPurged() {
    std::lock_guard<std::mutex> lock(mutex_);
    inputSeen_ = 0;
}

void CommEventMonitor::LookLocked() {
    const DWORD mask = mask_.load();
    const int queued = QueuedBytes(fd_, FIONREAD);
    if (queued > inputSeen_) recorded_ |= EV_RXCHAR;
    inputSeen_ = queued;
    if (outputBusy_.load() && QueuedBytes(fd_, TIOCOUTQ) == 0) {
        outputBusy_ = false;
        recorded_ |= EV_TXEMPTY;
    }
    if ((mask & (kModemEvents | kLineEvents)) != 0 && (hasModemLines_ || hasLineCounters_)) {
        LineState now;
        if (ReadLineState(&now)) {
            const int changed = now.modemLines ^ lineSeen_.modemLines;
            if (changed & TIOCM_CTS) recorded_ |= EV_CTS;
            if (changed & TIOCM_DSR) recorded_ |= EV_DSR;
            if (changed & TIOCM_CD) recorded_ |= EV_RLSD;
            if ((changed & TIOCM_RI) && (now.modemLines & TIOCM_RI)) recorded_ |= EV_RING;
            if (now.breaks != lineSeen_.breaks) recorded_ |= EV_BREAK;
            if (now.lineErrors != lineSeen_.lineErrors) recorded_ |= EV_ERR;
            lineSeen_ = now;
        }
    }
    recorded_ &= mask;
}

DWORD CommEventMonitor::TakeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    LookLocked();
    const DWORD events = recorded_;
    recorded_ = 0;
    return events;
}

void CommEventMonitor::WaitNeeds(short* pollEvents, std::int64_t* tickMs) const {
    const DWORD mask = mask_.load();
    *pollEvents = 0;
    *tickMs = -1;
    bool look = false;
    if (mask & EV_RXCHAR) {
        // POLLIN announces new bytes only while the queue is empty; bytes
        // nobody has read yet keep it raised.
        std::lock_guard<std::mutex> lock(mutex_);
        if (inputSeen_ == 0) {
            *pollEvents |= POLLIN;
        } else {
            look = true;
        }
    }
    // A write may begin after the wait has started (and end at once, without
    // the service thread hearing of it), so a wait for the output to drain
    // keeps looking while it lasts.
    if (mask & EV_TXEMPTY) look = true;
    if ((mask & kModemEvents) && hasModemLines_) look = true;
    if ((mask & kLineEvents) && hasLineCounters_) look = true;
    if (look) *tickMs = kLookIntervalMs;
}

}  // namespace kavex::posix
