// Allocation failure on demand: the test binary replaces the global
// operator new (failing_allocation.cpp), so code under test sees the
// std::bad_alloc it would see when memory runs out.
#pragma once

namespace kavex::test {

// While alive, the next `count` allocations through operator new on the
// calling thread fail; other threads are not affected.
class FailingAllocations {
public:
    explicit FailingAllocations(int count);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // How many of them have failed so far.
    int Failed() const;

    // False when failures cannot be injected: a memory checker such as
    // valgrind replaces operator new with its own.
    static bool Available();

private:
    [[maybe_unused]] int previous_;
};

}  // namespace kavex::test
