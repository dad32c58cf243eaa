// Waits: the objects WaitForSingleObject[Ex] waits for, and the completion
// routines (user APCs) that each thread runs in its alertable waits.
//
// Every wait of this process shares one lock and one condition variable.
// Whatever a waiter may be waiting for (an event set, a transfer ended, a
// completion routine queued) changes under the lock and wakes all waiters,
// which then check their own condition again. With the few threads a host
// has, this is simpler than wake-ups per object and cannot lose one.
//
// Adding a kind of waitable object: derive from WaitableObject and implement
// Wait. WaitForSingleObject[Ex] find the object through the handle table
// without knowing its kind. An object whose state the process shares with
// others (a named mutex) waits in its own way rather than through WaitUntil.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/posix/handles.h"
#include "platform/posix/win32_sync.h"

namespace kavex::posix {

// The lock that guards every waitable state and the OVERLAPPED results.
std::unique_lock<std::mutex> LockWaits();
// Wakes every waiter; call it with the lock held, after the change.
void WakeWaiters();

// Waits, with `lock` from LockWaits held, until `ready` holds (WAIT_OBJECT_0),
// `timeoutMs` has passed (WAIT_TIMEOUT; INFINITE waits for ever) or, when
// `alertable`, completion routines are queued for the calling thread: then
// it runs them all with the lock released and returns WAIT_IO_COMPLETION.
DWORD WaitUntil(std::unique_lock<std::mutex>& lock, DWORD timeoutMs, bool alertable,
                const std::function<bool()>& ready);

// The completion routines queued for one thread, run by that thread only.
struct ApcQueue {
    std::deque<std::function<void()>> routines;  // guarded by the wait lock
};

// The calling thread's queue; a transfer keeps it to queue its routine.
std::shared_ptr<ApcQueue> CurrentThreadApcs();
// Queues a routine and wakes its thread; with the wait lock held.
void QueueApcLocked(ApcQueue& queue, std::function<void()> routine);

class WaitableObject : public KernelObject {
public:
    // WAIT_OBJECT_0 (the object was signaled, and a wait consumes what it
    // should), WAIT_TIMEOUT, WAIT_IO_COMPLETION, or WAIT_FAILED with the last
    // error set.
    virtual DWORD Wait(DWORD timeoutMs, bool alertable) = 0;
};

// An event: manual-reset ones stay signaled until reset; a wait on an
// auto-reset one resets it.
class Event final : public WaitableObject {
public:
    Event(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}

    DWORD Wait(DWORD timeoutMs, bool alertable) override;
    void Set();
    void Reset();
    // The same with the wait lock held.
    void SetLocked();
    void ResetLocked() { signaled_ = false; }

private:
    const bool manualReset_;
    bool signaled_;  // guarded by the wait lock
};

}  // namespace kavex::posix
