#include "platform/posix/handles.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace kavex::posix {

namespace {

constexpr std::size_t kMaxHandles = 4096;

struct HandleTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<KernelObject>> slots;
};

// The table is constructed before, and destroyed after, every static object
// of ordinary priority in the program or library it is linked into: the
// module's port objects close their handles in their destructors at unload,
// and the table must still be there then. Its destruction frees what it
// holds, so loading and unloading the library leaks nothing.
HandleTable g_handleTable __attribute__((init_priority(101)));

HandleTable& TheTable() { return g_handleTable; }

std::mutex& TableMutex() { return TheTable().mutex; }

std::vector<std::shared_ptr<KernelObject>>& Table() { return TheTable().slots; }

HANDLE HandleFromSlot(std::size_t slot) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>((slot + 1) * 4));
}

// The table slot of a handle value, or kMaxHandles when it names none.
std::size_t SlotFromHandle(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > kMaxHandles) return kMaxHandles;
    return static_cast<std::size_t>(value / 4 - 1);
}

}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL KernelObject::Flush() {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE InsertObject(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(TableMutex());
    auto& table = Table();
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        if (!table[slot]) {
            table[slot] = std::move(object);
            return HandleFromSlot(slot);
        }
    }
    if (table.size() >= kMaxHandles) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    table.push_back(std::move(object));
    return HandleFromSlot(table.size() - 1);
}

std::shared_ptr<KernelObject> LookupObject(HANDLE handle) {
    const std::size_t slot = SlotFromHandle(handle);
    std::lock_guard<std::mutex> lock(TableMutex());
    auto& table = Table();
    if (slot >= table.size() || !table[slot]) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return table[slot];
}

bool RemoveObject(HANDLE handle) {
    const std::size_t slot = SlotFromHandle(handle);
    std::shared_ptr<KernelObject> removed;
    {
        std::lock_guard<std::mutex> lock(TableMutex());
        auto& table = Table();
        if (slot >= table.size() || !table[slot]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        removed = std::move(table[slot]);
    }
    // The object's destructor (closing descriptors) runs outside the lock.
    return true;
}

std::size_t OpenHandleCount() {
    std::lock_guard<std::mutex> lock(TableMutex());
    std::size_t count = 0;
    for (const auto& slot : Table()) count += slot ? 1 : 0;
    return count;
}

}  // namespace kavex::posix
