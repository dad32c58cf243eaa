#include "support/fault_sweep.h"

#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "platform/posix/handles.h"
#include "platform/win32.h"
#include "support/allocation_faults.h"

namespace kavex::test {

namespace {

long OpenDescriptors() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return count - 1;  // the directory stream's own
}

// The first handle ever stored gives the layer's handle table the block it
// keeps for good; a sweep makes sure that happened before it counts blocks.
void WarmUpHandleTable() {
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA("/proc", &data);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// One run: set up, arm, attempt, disarm, tear down, then the checks.
template <class Arm, class Disarm>
bool Run(const FaultSweep& sweep, unsigned long failAt, Arm arm, Disarm disarm) {
    FaultRun run;
    run.failAt = failAt;
    Resources before, after;
    {
        std::unique_ptr<QuietStdout> quiet;
        if (sweep.quiet) quiet = std::make_unique<QuietStdout>();
        before = Resources::Now();
        if (sweep.prepare) sweep.prepare();
        arm();
        try {
            sweep.attempt();
        } catch (const std::exception& error) {
            run.escaped = error.what();
        } catch (...) {
            run.escaped = "an exception that is no std::exception";
        }
        disarm(&run);
        if (sweep.finish) sweep.finish();
        after = Resources::Now();
    }
    SCOPED_TRACE(run.Describe());
    EXPECT_EQ(after, before) << "the run did not give back all it took";
    if (sweep.check) sweep.check(run);
    return run.injected == 0;
}

}  // namespace

Resources Resources::Now() {
    Resources now;
    now.handles = static_cast<long>(posix::OpenHandleCount());
    now.descriptors = OpenDescriptors();
#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
    now.heapBlocks = LiveAllocations();
#endif
    return now;
}

bool Resources::operator==(const Resources& other) const {
    return handles == other.handles && descriptors == other.descriptors && heapBlocks == other.heapBlocks;
}

std::ostream& operator<<(std::ostream& out, const Resources& resources) {
    return out << resources.handles << " handles, " << resources.descriptors << " descriptors, "
               << resources.heapBlocks << " heap blocks";
}

QuietStdout::QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
}

QuietStdout::~QuietStdout() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
}

std::string FaultRun::Describe() const {
    std::string text = "N=" + std::to_string(failAt);
    if (injected == 0) return text + " (nothing failed)";
    text += " (";
    text += fileReport.injected > 0 ? posix::faults::NameOf(fileReport.first) : "allocation";
    text += " failed";
    if (injected > 1) text += ", then " + std::to_string(injected - 1) + " more";
    return text + ")";
}

int SweepFileFaults(posix::faults::FileFaultPlan plan, const FaultSweep& sweep) {
    WarmUpHandleTable();
    for (int n = 1; n <= sweep.limit; ++n) {
        plan.failAt = static_cast<unsigned long>(n);
        const bool whole = Run(
            sweep, plan.failAt, [&] { posix::faults::ArmFileFaults(plan); },
            [](FaultRun* run) {
                run->fileReport = posix::faults::DisarmFileFaults();
                run->injected = run->fileReport.injected;
            });
        if (whole || ::testing::Test::HasFatalFailure()) return n;
    }
    ADD_FAILURE() << "the operation still met a failure after " << sweep.limit << " runs";
    return sweep.limit;
}

#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
int SweepAllocationFaults(bool persistent, const FaultSweep& sweep) {
    WarmUpHandleTable();
    for (int n = 1; n <= sweep.limit; ++n) {
        const bool whole = Run(
            sweep, static_cast<unsigned long>(n),
            [&] { ArmAllocationFaults(static_cast<unsigned long>(n), persistent); },
            [](FaultRun* run) { run->injected = DisarmAllocationFaults().injected; });
        if (whole || ::testing::Test::HasFatalFailure()) return n;
    }
    ADD_FAILURE() << "the operation still met a failure after " << sweep.limit << " runs";
    return sweep.limit;
}
#endif

}  // namespace kavex::test

#endif  // !_WIN32
