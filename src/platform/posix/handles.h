// The handle table: Win32 HANDLE values for the layer's kernel objects.
//
// A handle is a small multiple of four, as on Windows, so it is never NULL or
// INVALID_HANDLE_VALUE. A call that looked a handle up keeps its object
// alive even if another thread closes the handle meanwhile: the object goes
// when the last call using it ends, as a Windows object goes with its last
// reference. Looking a handle up takes no lock: a call borrows the object
// with one atomic count on the handle's slot (BorrowObject), and a slot's
// handle value is given to no other object while its old one is borrowed.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <utility>

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

// A handle's object, borrowed for the length of one call.
class BorrowedObject {
public:
    BorrowedObject() = default;
    BorrowedObject(BorrowedObject&& other) noexcept
        : slot_(other.slot_), object_(std::exchange(other.object_, nullptr)) {}
    BorrowedObject& operator=(BorrowedObject&&) = delete;
    BorrowedObject(const BorrowedObject&) = delete;
    ~BorrowedObject();

    KernelObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // A lasting reference, for what must outlive the call.
    std::shared_ptr<KernelObject> Share() const;

private:
    friend BorrowedObject BorrowObject(HANDLE handle);
    BorrowedObject(std::size_t slot, KernelObject* object) : slot_(slot), object_(object) {}
    std::size_t slot_ = 0;
    KernelObject* object_ = nullptr;
};

// The object behind a handle, or an empty borrow with ERROR_INVALID_HANDLE.
BorrowedObject BorrowObject(HANDLE handle);

// The object as a T, or null when it is of another kind.
template <class T>
T* ObjectAs(KernelObject* object) {
    if (object == nullptr) return nullptr;
    if constexpr (std::is_final_v<T>) {
        // A final class needs no walk of the class tree.
        return typeid(*object) == typeid(T) ? static_cast<T*>(object) : nullptr;
    } else {
        return dynamic_cast<T*>(object);
    }
}

// A borrowed object of kind T (an empty one, with `wrongKindError`, for a
// live handle of another kind).
template <class T>
class Borrowed {
public:
    Borrowed(HANDLE handle, DWORD wrongKindError) : borrow_(BorrowObject(handle)) {
        if (!borrow_) return;
        object_ = ObjectAs<T>(borrow_.get());
        if (object_ == nullptr) SetLastError(wrongKindError);
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    BorrowedObject borrow_;
    T* object_ = nullptr;
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
