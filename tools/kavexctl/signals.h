// Ctrl-C for commands that wait inside the library.
//
// The library waits on its caller's thread (GetCardCodeEx has no time-out),
// so a signal handler that only sets a flag could not end such a wait. The
// watcher instead takes the stop signals (SIGINT, SIGTERM, SIGHUP; Ctrl-C
// and Ctrl-Break on Windows) on a thread of its own and runs a callback
// there, which may close the port that the main thread is reading. A
// command that has not ended 2 s after a stop signal, or a second stop
// signal, ends the process at once (exit 128 + the signal): kavexctl always
// ends promptly on SIGINT and SIGTERM.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kavexctl {

class StopSignals {
public:
    // Must be created before any other thread, so that every thread of the
    // process leaves the stop signals to the watcher.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Stopped() const { return stopped_.load(); }
    // A descriptor that becomes readable once a stop signal came (POSIX;
    // -1 on Windows), for commands that wait in poll().
    int WakeDescriptor() const { return wake_[0]; }

    // Stops as a stop signal does (also used by time limits).
    void Trigger();

private:
    void Watch();

    std::function<void()> onStop_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> finishing_{false};
    int wake_[2] = {-1, -1};
    std::thread watcher_;
};

}  // namespace kavexctl
