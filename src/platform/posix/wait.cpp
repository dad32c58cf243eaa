// WaitForSingleObject: each kind of object waits in its own way
// (KernelObject::Wait); a handle that names nothing fails.
#include "platform/posix/handles.h"
#include "platform/posix/win32_sync.h"

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto object = kavex::posix::LookupObject(hHandle);
    if (!object) return WAIT_FAILED;
    return object->Wait(dwMilliseconds);
}
