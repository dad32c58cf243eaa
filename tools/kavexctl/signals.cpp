#include "kavexctl/signals.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>

#include <signal.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace kavexctl {

void StopSignals::Trigger() {
    if (stopped_.exchange(true)) return;
    if (onStop_) onStop_();
#ifndef _WIN32
    if (wake_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
    }
#endif
}

#ifdef _WIN32

namespace {
StopSignals* g_active = nullptr;

// Windows runs console control handlers on a thread of their own.
BOOL WINAPI OnConsoleControl(DWORD) {
    if (g_active != nullptr) g_active->Trigger();
    return TRUE;
}
}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    g_active = this;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_active = nullptr;
}

void StopSignals::Watch() {}

#else

namespace {

constexpr time_t kGraceSeconds = 2;

// SIGUSR1 wakes the watcher when the command ends.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    return set;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
    watcher_ = std::thread([this] { Watch(); });
}

StopSignals::~StopSignals() {
    finishing_ = true;
    pthread_kill(watcher_.native_handle(), SIGUSR1);
    watcher_.join();
    if (wake_[0] >= 0) close(wake_[0]);
    if (wake_[1] >= 0) close(wake_[1]);
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void StopSignals::Watch() {
    const sigset_t set = WatchedSignals();
    int first = 0;
    for (;;) {
        int signal = 0;
        if (first == 0) {
            if (sigwait(&set, &signal) != 0) continue;
        } else {
            // After a stop signal the command has a grace period to end
            // cleanly (close its ports); a second signal, or a command stuck
            // in a call that does not return, ends the process anyway.
            const timespec grace{kGraceSeconds, 0};
            signal = sigtimedwait(&set, nullptr, &grace);
            if (signal < 0) {
                if (errno == EINTR) continue;
                signal = first;
            }
        }
        if (signal == SIGUSR1) {
            if (finishing_) return;
            continue;
        }
        if (first != 0) {
            static const char kMessage[] = "kavexctl: stopped\n";
            [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
            _exit(128 + first);
        }
        first = signal;
        Trigger();
    }
}

#endif

}  // namespace kavexctl
