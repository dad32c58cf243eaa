// Events and waits: CreateEventA, SetEvent, ResetEvent,
// WaitForSingleObject[Ex] and SleepEx.
#include <memory>

#include "platform/posix/errors.h"
#include "platform/posix/waitable.h"
#include "platform/posix/win32_system.h"

using kavex::posix::Event;

namespace {

std::shared_ptr<Event> EventOf(HANDLE handle) {
    return kavex::posix::LookupObjectAs<Event>(handle, ERROR_INVALID_HANDLE);
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*lpEventAttributes*/, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
    if (lpName != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HANDLE handle =
        kavex::posix::InsertObject(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
    // CreateEvent reports failure with NULL, not INVALID_HANDLE_VALUE.
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

BOOL SetEvent(HANDLE hEvent) {
    auto event = EventOf(hEvent);
    if (!event) return FALSE;
    event->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    auto event = EventOf(hEvent);
    if (!event) return FALSE;
    event->Reset();
    return TRUE;
}

DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
    auto object = kavex::posix::LookupObjectAs<kavex::posix::WaitableObject>(hHandle, ERROR_INVALID_HANDLE);
    if (!object) return WAIT_FAILED;
    return object->Wait(dwMilliseconds, bAlertable != FALSE);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForSingleObjectEx(hHandle, dwMilliseconds, FALSE);
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
    if (!bAlertable) {
        Sleep(dwMilliseconds);
        return 0;
    }
    auto lock = kavex::posix::LockWaits();
    const DWORD result = kavex::posix::WaitUntil(lock, dwMilliseconds, true, [] { return false; });
    return result == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}
