// Running an operation against every failure it can meet: the Nth file
// operation (platform/posix/fault_injection.h) or the Nth allocation
// (allocation_faults.h) fails, for N = 1, 2, ... until a run in which
// nothing failed, because the operation made fewer than N of them.
//
// Each run sets up unarmed, makes the attempt armed, and tears down unarmed;
// the sweep checks that the run gave back every handle, descriptor and heap
// block it took, then lets the test check the outcome. Standard output is
// sent to /dev/null during the run: the load and save operations print each
// file error there, and a sweep makes hundreds of them. POSIX only.
#pragma once

#ifndef _WIN32

#include <functional>
#include <ostream>
#include <string>

#include "platform/posix/fault_injection.h"

namespace kavex::test {

// What the process holds: handles of the POSIX layer's table, file
// descriptors and, where allocation_faults.h is there, live heap blocks.
struct Resources {
    static Resources Now();
    bool operator==(const Resources& other) const;
    bool operator!=(const Resources& other) const { return !(*this == other); }

    long handles = 0;
    long descriptors = 0;
    long heapBlocks = 0;
};
std::ostream& operator<<(std::ostream& out, const Resources& resources);

// Sends standard output to /dev/null for the life of the object.
class QuietStdout {
public:
    QuietStdout();
    ~QuietStdout();
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_ = -1;
};

// One run of a sweep.
struct FaultRun {
    unsigned long failAt = 0;                   // N
    unsigned long injected = 0;                 // failures made (0: the operation ran whole)
    posix::faults::FileFaultReport fileReport;  // for file faults
    std::string escaped;                        // what the attempt threw, if it threw
    bool Failed(posix::faults::FileOperation operation) const {
        return (fileReport.failed & posix::faults::Mask(operation)) != 0;
    }
    std::string Describe() const;  // "N=3 (write failed)", for messages
};

struct FaultSweep {
    std::function<void()> prepare;               // unarmed, before the attempt (may be empty)
    std::function<void()> attempt;               // armed; what it throws is caught (FaultRun::escaped)
    std::function<void()> finish;                // unarmed, releases what the run made (may be empty)
    std::function<void(const FaultRun&)> check;  // after the resources were compared
    bool quiet = true;                           // standard output to /dev/null during the run
    int limit = 300;                             // most runs before the sweep gives up
};

// plan.failAt is set by the sweep. Returns the number of runs.
int SweepFileFaults(posix::faults::FileFaultPlan plan, const FaultSweep& sweep);

#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
int SweepAllocationFaults(bool persistent, const FaultSweep& sweep);
#endif

}  // namespace kavex::test

#endif  // !_WIN32
