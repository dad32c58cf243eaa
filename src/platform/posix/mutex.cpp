// CreateMutexA and ReleaseMutex: a process-shared, robust, recursive pthread
// mutex in a named object's shared memory.
//
// pthread gives most of the Win32 semantics directly: the owner is a thread;
// it may lock again and must unlock as often; and when the owner ends
// holding it, the next locker gets it with EOWNERDEAD, which is Windows's
// WAIT_ABANDONED. Beside the mutex the shared memory records the owning
// thread and how often it holds the mutex, so that a ReleaseMutex by any
// other thread fails with ERROR_NOT_OWNER without touching the mutex.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include <cerrno>
#include <ctime>
#include <memory>

#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/named_objects.h"
#include "platform/posix/waitable.h"
#include "platform/posix/win32_sync.h"

namespace kavex::posix {

namespace {

struct SharedMutex {
    pthread_mutex_t mutex;
    std::atomic<pid_t> owner;  // the thread holding it, 0 when none
    unsigned depth;            // how often it holds it; changed by the owner only
};
static_assert(std::atomic<pid_t>::is_always_lock_free, "the owner is shared between processes");

void InitializeMutex(void* data) {
    auto* shared = new (data) SharedMutex{};
    shared->owner.store(0);
    data = &shared->mutex;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(static_cast<pthread_mutex_t*>(data), &attributes);
    pthread_mutexattr_destroy(&attributes);
}

timespec DeadlineAfter(DWORD milliseconds) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long nanoseconds = now.tv_nsec + static_cast<long long>(milliseconds % 1000) * 1000000LL;
    now.tv_sec += static_cast<time_t>(milliseconds / 1000 + nanoseconds / 1000000000LL);
    now.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    return now;
}

// A named mutex waits in its own way: its state is shared with other
// processes, so the process's own wait lock cannot see it change. Its waits
// therefore run no completion routines, alertable or not.
class MutexObject final : public WaitableObject {
public:
    explicit MutexObject(std::shared_ptr<SharedSegment> segment) : segment_(std::move(segment)) {}

    DWORD Wait(DWORD milliseconds, bool /*alertable*/) override {
        int result;
        if (milliseconds == INFINITE) {
            result = pthread_mutex_lock(Mutex());
        } else if (milliseconds == 0) {
            result = pthread_mutex_trylock(Mutex());
        } else {
            const timespec deadline = DeadlineAfter(milliseconds);
            result = pthread_mutex_clocklock(Mutex(), CLOCK_MONOTONIC, &deadline);
        }
        switch (result) {
            case 0: Taken(false); return WAIT_OBJECT_0;
            case EOWNERDEAD:
                // The owner ended holding it: this thread owns it now.
                pthread_mutex_consistent(Mutex());
                Taken(true);
                return WAIT_ABANDONED;
            case EBUSY:
            case ETIMEDOUT: return WAIT_TIMEOUT;
            default: SetLastError(Win32ErrorFromErrno(result)); return WAIT_FAILED;
        }
    }

    BOOL Release() {
        SharedMutex* shared = Shared();
        if (shared->owner.load() != gettid()) return Fail(ERROR_NOT_OWNER);
        if (--shared->depth == 0) shared->owner.store(0);
        const int result = pthread_mutex_unlock(Mutex());
        if (result == 0) return TRUE;
        return Fail(result == EPERM ? ERROR_NOT_OWNER : Win32ErrorFromErrno(result));
    }

private:
    SharedMutex* Shared() const { return static_cast<SharedMutex*>(segment_->Data()); }
    pthread_mutex_t* Mutex() const { return &Shared()->mutex; }

    // This thread holds the mutex once more (afresh after an owner that died).
    void Taken(bool abandoned) {
        SharedMutex* shared = Shared();
        if (abandoned || shared->owner.load() != gettid()) {
            shared->owner.store(gettid());
            shared->depth = 0;
        }
        ++shared->depth;
    }

    const std::shared_ptr<SharedSegment> segment_;
};

}  // namespace

}  // namespace kavex::posix

using kavex::posix::MutexObject;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*lpMutexAttributes*/, BOOL bInitialOwner, LPCSTR lpName) {
    bool created = false;
    auto segment = kavex::posix::SharedSegment::Open(lpName, kavex::posix::NamedKind::kMutex,
                                                     sizeof(kavex::posix::SharedMutex),
                                                     kavex::posix::InitializeMutex, &created);
    if (!segment) return nullptr;
    auto mutex = std::make_shared<MutexObject>(std::move(segment));
    // The creator alone gets the initial ownership it asks for.
    if (bInitialOwner && created) mutex->Wait(INFINITE, false);
    const HANDLE handle = kavex::posix::InsertObject(mutex);
    if (handle == INVALID_HANDLE_VALUE) {
        if (bInitialOwner && created) mutex->Release();
        return nullptr;
    }
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

BOOL ReleaseMutex(HANDLE hMutex) {
    auto mutex = kavex::posix::LookupObjectAs<MutexObject>(hMutex, ERROR_INVALID_HANDLE);
    return mutex ? mutex->Release() : FALSE;
}
