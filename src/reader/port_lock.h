// The lock of one reader port object. A reader port is nearly always free
// when a read function takes its lock (the host polls from one thread), so
// taking and releasing a free lock is one atomic exchange each, without a
// call into the system's mutex; a thread that finds it held (a close from
// another thread while a read is in progress) waits on a condition
// variable until it is released.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class PortLock {
public:
    void lock() {
        int expected = kFree;
        if (!state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire)) LockContended();
    }
    void unlock() {
        if (state_.exchange(kFree, std::memory_order_release) == kContended) WakeOne();
    }

private:
    // kContended: held, and a thread may be waiting for it.
    enum { kFree, kHeld, kContended };

    void LockContended() {
        std::unique_lock<std::mutex> lock(mutex_);
        // Marked contended while it is taken, so that the holder's release
        // wakes a waiter (at worst one that has already gone, which is harmless).
        while (state_.exchange(kContended, std::memory_order_acquire) != kFree) released_.wait(lock);
    }
    void WakeOne() {
        // Taking the mutex orders this wake after a waiter's wait has begun.
        const std::lock_guard<std::mutex> lock(mutex_);
        released_.notify_one();
    }

    std::atomic<int> state_{kFree};
    std::mutex mutex_;
    std::condition_variable released_;
};
