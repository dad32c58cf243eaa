// The replacement global operator new and delete of the test program (see
// allocation_faults.h). Every form allocates with malloc or aligned_alloc
// and frees with free, so blocks from any form may go to any delete.
#ifndef _WIN32

#include "support/allocation_faults.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace kavex::test {

namespace {

// Constant-initialised: usable from the first allocation of the program.
thread_local unsigned long t_failAt = 0;
thread_local bool t_persistent = false;
thread_local AllocationFaultReport t_report;
std::atomic<long> g_live{0};

// Counts one allocation of this thread; true when it must fail.
bool AllocationFails() {
    if (t_failAt == 0) return false;
    const unsigned long number = ++t_report.counted;
    const bool fails = number == t_failAt || (t_persistent && number > t_failAt);
    if (fails) ++t_report.injected;
    return fails;
}

void* Allocate(std::size_t size, std::size_t alignment) {
    if (AllocationFails()) return nullptr;
    if (size == 0) size = 1;
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size);
    } else {
        // aligned_alloc wants a size that is a multiple of the alignment.
        block = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    }
    if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
    void* block = Allocate(size, alignment);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void Release(void* block) noexcept {
    if (block == nullptr) return;
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

}  // namespace

void ArmAllocationFaults(unsigned long failAt, bool persistent) {
    t_report = AllocationFaultReport{};
    t_persistent = persistent;
    t_failAt = failAt;
}

AllocationFaultReport AllocationFaultsSoFar() { return t_report; }

AllocationFaultReport DisarmAllocationFaults() {
    t_failAt = 0;
    return t_report;
}

long LiveAllocations() { return g_live.load(); }

}  // namespace kavex::test

using kavex::test::Allocate;
using kavex::test::AllocateOrThrow;
using kavex::test::kPlain;
using kavex::test::Release;

void* operator new(std::size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { Release(block); }

#endif  // !_WIN32
