// Allocation failures on demand, for tests that run an operation with its
// Nth heap allocation failing.
//
// The test program replaces the global operator new and new[] (all their
// forms; allocation_faults.cpp): module code is compiled as it ships and
// meets the failure where it really allocates. Once armed, the Nth
// allocation made by the arming thread fails (std::bad_alloc, or null from
// the nothrow forms). The replacement also counts the blocks alive in the
// whole program, so that a test can see an operation give back all it took.
//
// Not available where a sanitizer's runtime defines operator new itself
// (ThreadSanitizer): KAVEX_HAVE_ALLOCATION_FAULTS is defined where it is.
#pragma once

namespace kavex::test {

struct AllocationFaultReport {
    unsigned long counted = 0;   // allocations of the arming thread while armed
    unsigned long injected = 0;  // of them, made to fail
};

// The Nth allocation of this thread from now on fails (1: the next one);
// with `persistent`, every later one too. 0 disarms.
void ArmAllocationFaults(unsigned long failAt, bool persistent = false);
AllocationFaultReport DisarmAllocationFaults();
// What happened since this thread armed them, still armed.
AllocationFaultReport AllocationFaultsSoFar();

// Blocks from operator new not yet deleted, in the whole program.
long LiveAllocations();

class ScopedAllocationFaults {
public:
    explicit ScopedAllocationFaults(unsigned long failAt, bool persistent = false) {
        ArmAllocationFaults(failAt, persistent);
    }
    ~ScopedAllocationFaults() { DisarmAllocationFaults(); }
    ScopedAllocationFaults(const ScopedAllocationFaults&) = delete;
    ScopedAllocationFaults& operator=(const ScopedAllocationFaults&) = delete;
};

}  // namespace kavex::test
