// The handle table: Win32 HANDLE values for the layer's kernel objects.
//
// A handle is a small multiple of four, as on Windows, so it is never NULL or
// INVALID_HANDLE_VALUE. Objects are held by shared_ptr, so a call that looked
// a handle up keeps its object alive even if another thread closes it.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/posix/win32_types.h"

namespace kavex::posix {

// A kernel object reachable through a handle. The defaults answer as Windows
// does for an operation the object does not support.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    virtual BOOL Read(void* buffer, DWORD count, DWORD* transferred);
    virtual BOOL Write(const void* buffer, DWORD count, DWORD* transferred);
    virtual BOOL Flush();
};

// Stores the object and returns its new handle (INVALID_HANDLE_VALUE with
// ERROR_TOO_MANY_OPEN_FILES when the table is full).
HANDLE InsertObject(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> LookupObject(HANDLE handle);

// The object behind a handle if it is a T; a live handle of another kind
// gives null with `wrongKindError`.
template <class T>
std::shared_ptr<T> LookupObjectAs(HANDLE handle, DWORD wrongKindError) {
    std::shared_ptr<KernelObject> object = LookupObject(handle);
    if (!object) return nullptr;
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(object);
    if (!typed) SetLastError(wrongKindError);
    return typed;
}

// Removes the handle; the object is destroyed once no call still uses it.
// False with ERROR_INVALID_HANDLE for a handle that is not in the table.
bool RemoveObject(HANDLE handle);

// The number of handles in the table, for tests that check that an
// operation leaves none behind.
std::size_t OpenHandleCount();

}  // namespace kavex::posix
