#include "platform/posix/handles.h"

#include <atomic>
#include <cstdint>

namespace kavex::posix {

namespace {

constexpr std::size_t kMaxHandles = 4096;

// The state of a slot is one atomic word: what the slot holds, and how many
// calls are borrowing it (or, on a slot being filled or emptied, looking at
// it in vain).
constexpr std::uint32_t kLive = 1u << 31;    // holds an object
constexpr std::uint32_t kClosed = 1u << 30;  // its handle is closed; the last borrower ends the object
constexpr std::uint32_t kBusy = 1u << 29;    // being filled or emptied
constexpr std::uint32_t kKindMask = kLive | kClosed | kBusy;

struct Slot {
    std::atomic<std::uint32_t> state{0};
    // Written while the slot is kBusy only: by the insert before kLive is
    // set, and by the one call that ends the object once it is closed and
    // no longer borrowed.
    std::shared_ptr<KernelObject> object;
};

struct HandleTable {
    Slot slots[kMaxHandles];
};

// The table is constructed before, and destroyed after, every static object
// of ordinary priority in the program or library it is linked into: the
// module's port objects close their handles in their destructors at unload,
// and the table must still be there then. Its destruction frees what it
// holds, so loading and unloading the library leaks nothing.
HandleTable g_handleTable __attribute__((init_priority(101)));

Slot& SlotAt(std::size_t slot) { return g_handleTable.slots[slot]; }

HANDLE HandleFromSlot(std::size_t slot) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>((slot + 1) * 4));
}

// The table slot of a handle value, or kMaxHandles when it names none.
std::size_t SlotFromHandle(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > kMaxHandles) return kMaxHandles;
    return static_cast<std::size_t>(value / 4 - 1);
}

// Ends the object of a closed slot when nobody borrows it: of the calls that
// may find it so, exactly one wins the exchange.
void EndIfUnused(Slot& slot) {
    std::uint32_t expected = kLive | kClosed;
    if (!slot.state.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) return;
    slot.object.reset();  // the object's destructor (closing descriptors) runs here
    slot.state.fetch_sub(kBusy, std::memory_order_release);
}

void Release(Slot& slot) {
    if (slot.state.fetch_sub(1, std::memory_order_acq_rel) == (kLive | kClosed | 1)) EndIfUnused(slot);
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

BorrowedObject::~BorrowedObject() {
    if (object_ != nullptr) Release(SlotAt(slot_));
}

std::shared_ptr<KernelObject> BorrowedObject::Share() const {
    return object_ != nullptr ? SlotAt(slot_).object : nullptr;
}

BorrowedObject BorrowObject(HANDLE handle) {
    const std::size_t index = SlotFromHandle(handle);
    if (index < kMaxHandles) {
        Slot& slot = SlotAt(index);
        const std::uint32_t state = slot.state.fetch_add(1, std::memory_order_acquire);
        if ((state & kKindMask) == kLive) return BorrowedObject(index, slot.object.get());
        Release(slot);
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return BorrowedObject();
}

HANDLE InsertObject(std::shared_ptr<KernelObject> object) {
    for (std::size_t index = 0; index < kMaxHandles; ++index) {
        Slot& slot = SlotAt(index);
        std::uint32_t expected = 0;
        if (!slot.state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire)) continue;
        slot.object = std::move(object);
        slot.state.fetch_add(kLive - kBusy, std::memory_order_release);
        return HandleFromSlot(index);
    }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

std::shared_ptr<KernelObject> LookupObject(HANDLE handle) { return BorrowObject(handle).Share(); }

bool RemoveObject(HANDLE handle) {
    const std::size_t index = SlotFromHandle(handle);
    if (index < kMaxHandles) {
        Slot& slot = SlotAt(index);
        std::uint32_t state = slot.state.load(std::memory_order_relaxed);
        while ((state & kKindMask) == kLive) {
            if (slot.state.compare_exchange_weak(state, state | kClosed, std::memory_order_acq_rel)) {
                // Unborrowed, the object ends now; else with its last borrower.
                if ((state & ~kKindMask) == 0) EndIfUnused(slot);
                return true;
            }
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

std::size_t OpenHandleCount() {
    std::size_t count = 0;
    for (const Slot& slot : g_handleTable.slots) {
        const std::uint32_t state = slot.state.load(std::memory_order_acquire);
        if ((state & kLive) != 0 && (state & kClosed) == 0) ++count;
    }
    return count;
}

}  // namespace kavex::posix
