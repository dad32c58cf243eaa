#include "support/failing_allocation.h"

#include "support/allocation_faults.h"

#include <cstdlib>
#include <new>

#ifdef _WIN32
// Windows: this file replaces the global operator new itself (the
// replacement of allocation_faults.cpp needs aligned_alloc, which the
// Windows C library lacks).
namespace {

thread_local int t_failuresLeft = 0;
thread_local int t_failed = 0;

void* Allocate(std::size_t size) {
    if (t_failuresLeft > 0) {
        --t_failuresLeft;
        ++t_failed;
        throw std::bad_alloc();
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

// Every replaceable form but the aligned ones, so that all memory of the
// program comes and goes the same way (also where a sanitizer's run time
// brings forms of its own).
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace kavex::test {

FailingAllocations::FailingAllocations(int count) : previous_(t_failuresLeft) {
    t_failuresLeft = count;
    t_failed = 0;
}

FailingAllocations::~FailingAllocations() { t_failuresLeft = previous_; }

int FailingAllocations::Failed() const { return t_failed; }

#else
// POSIX: on top of the one replacement of allocation_faults.cpp.
namespace kavex::test {

#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
FailingAllocations::FailingAllocations(int count) : previous_(0) { ArmAllocationFaults(1, count > 1); }
FailingAllocations::~FailingAllocations() { DisarmAllocationFaults(); }
int FailingAllocations::Failed() const { return static_cast<int>(AllocationFaultsSoFar().injected); }
#else
// Built without a replacement (ThreadSanitizer brings its own): nothing fails.
FailingAllocations::FailingAllocations(int) : previous_(0) {}
FailingAllocations::~FailingAllocations() = default;
int FailingAllocations::Failed() const { return 0; }
#endif

#endif

bool FailingAllocations::Available() {
    FailingAllocations probe(1);
    // Through a pointer, so that the call cannot be inlined here and reaches
    // whatever operator new the process really uses.
    void* (*volatile allocate)(std::size_t) = &::operator new;
    void (*volatile release)(void*) noexcept = &::operator delete;
    try {
        release(allocate(16));
    } catch (const std::bad_alloc&) {
        return true;
    }
    return false;
}

}  // namespace kavex::test
