#include "platform/posix/waitable.h"

#include <chrono>
#include <condition_variable>
#include <new>
#include <utility>
#include <vector>

namespace kavex::posix {

namespace {

struct WaitState {
    std::mutex mutex;
    std::condition_variable changed;
};

// Built on first use and never destroyed, like the handle table: port
// objects destroyed at exit still close their handles through it.
WaitState& TheWaitState() {
    alignas(WaitState) static unsigned char storage[sizeof(WaitState)];
    static WaitState* const state = ::new (static_cast<void*>(storage)) WaitState();
    return *state;
}

}  // namespace

std::unique_lock<std::mutex> LockWaits() { return std::unique_lock<std::mutex>(TheWaitState().mutex); }

void WakeWaiters() { TheWaitState().changed.notify_all(); }

std::shared_ptr<ApcQueue> CurrentThreadApcs() {
    thread_local const std::shared_ptr<ApcQueue> queue = std::make_shared<ApcQueue>();
    return queue;
}

void QueueApcLocked(ApcQueue& queue, std::function<void()> routine) {
    queue.routines.push_back(std::move(routine));
    WakeWaiters();
}

DWORD WaitUntil(std::unique_lock<std::mutex>& lock, DWORD timeoutMs, bool alertable,
                const std::function<bool()>& ready) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ApcQueue* apcs = alertable ? CurrentThreadApcs().get() : nullptr;
    for (;;) {
        if (ready()) return WAIT_OBJECT_0;
        if (apcs != nullptr && !apcs->routines.empty()) {
            // Every routine queued so far runs, in order, outside the lock: a
            // routine may start the next transfer or wait itself.
            std::vector<std::function<void()>> routines(std::make_move_iterator(apcs->routines.begin()),
                                                        std::make_move_iterator(apcs->routines.end()));
            apcs->routines.clear();
            lock.unlock();
            for (auto& routine : routines) routine();
            lock.lock();
            return WAIT_IO_COMPLETION;
        }
        if (timeoutMs == INFINITE) {
            TheWaitState().changed.wait(lock);
        } else if (TheWaitState().changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (ready()) return WAIT_OBJECT_0;
            if (apcs == nullptr || apcs->routines.empty()) return WAIT_TIMEOUT;
        }
    }
}

DWORD Event::Wait(DWORD timeoutMs, bool alertable) {
    auto lock = LockWaits();
    const DWORD result = WaitUntil(lock, timeoutMs, alertable, [this] { return signaled_; });
    if (result == WAIT_OBJECT_0 && !manualReset_) signaled_ = false;
    return result;
}

void Event::Set() {
    auto lock = LockWaits();
    SetLocked();
}

void Event::Reset() {
    auto lock = LockWaits();
    ResetLocked();
}

void Event::SetLocked() {
    signaled_ = true;
    WakeWaiters();
}

}  // namespace kavex::posix
