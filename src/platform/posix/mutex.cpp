// CreateMutexA and ReleaseMutex: a process-shared, robust, recursive pthread
// mutex in a named object's shared memory.
//
// pthread gives the Win32 semantics directly: the owner is a thread; it may
// lock again and must unlock as often; another thread's unlock fails
// (EPERM); and when the owner ends holding it, the next locker gets it with
// EOWNERDEAD, which is Windows's WAIT_ABANDONED.
#include <pthread.h>

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

void InitializeMutex(void* data) {
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
            case 0: return WAIT_OBJECT_0;
            case EOWNERDEAD:
                // The owner ended holding it: this thread owns it now.
                pthread_mutex_consistent(Mutex());
                return WAIT_ABANDONED;
            case EBUSY:
            case ETIMEDOUT: return WAIT_TIMEOUT;
            default: SetLastError(Win32ErrorFromErrno(result)); return WAIT_FAILED;
        }
    }

    BOOL Release() {
        const int result = pthread_mutex_unlock(Mutex());
        if (result == 0) return TRUE;
        return Fail(result == EPERM ? ERROR_NOT_OWNER : Win32ErrorFromErrno(result));
    }

private:
    pthread_mutex_t* Mutex() const { return static_cast<pthread_mutex_t*>(segment_->Data()); }

    const std::shared_ptr<SharedSegment> segment_;
};

}  // namespace

}  // namespace kavex::posix

using kavex::posix::MutexObject;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*lpMutexAttributes*/, BOOL bInitialOwner, LPCSTR lpName) {
    bool created = false;
    auto segment =
        kavex::posix::SharedSegment::Open(lpName, kavex::posix::NamedKind::kMutex, sizeof(pthread_mutex_t),
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
