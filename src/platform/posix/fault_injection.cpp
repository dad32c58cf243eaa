#include "platform/posix/fault_injection.h"

#include <atomic>
#include <mutex>

namespace kavex::posix::faults {

namespace {

// Constant-initialised and trivially destroyed, so usable at any moment of
// the program's life (the port objects close their handles at exit).
struct FaultState {
    std::mutex mutex;
    FileFaultPlan plan;
    FileFaultReport report;
};
FaultState g_state;

FaultState& State() { return g_state; }

std::atomic<bool> g_armed{false};
std::atomic<bool> g_sleepAtOnce{false};

}  // namespace

void ArmFileFaults(const FileFaultPlan& plan) {
    FaultState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.plan = plan;
    state.report = FileFaultReport{};
    g_armed.store(plan.failAt != 0);
}

FileFaultReport DisarmFileFaults() {
    FaultState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    g_armed.store(false);
    state.plan = FileFaultPlan{};
    return state.report;
}

FileFaultReport FileFaultsSoFar() {
    FaultState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.report;
}

DWORD DiskErrorOf(FileOperation operation) {
    switch (operation) {
        case FileOperation::kOpen: return ERROR_IO_DEVICE;
        case FileOperation::kRead: return ERROR_READ_FAULT;
        case FileOperation::kWrite: return ERROR_DISK_FULL;
        case FileOperation::kFlush: return ERROR_WRITE_FAULT;
        case FileOperation::kSetLength: return ERROR_DISK_FULL;
        case FileOperation::kMove: return ERROR_WRITE_FAULT;
        case FileOperation::kDelete: return ERROR_IO_DEVICE;
        case FileOperation::kClose: return ERROR_WRITE_FAULT;
    }
    return ERROR_GEN_FAILURE;
}

const char* NameOf(FileOperation operation) {
    switch (operation) {
        case FileOperation::kOpen: return "open";
        case FileOperation::kRead: return "read";
        case FileOperation::kWrite: return "write";
        case FileOperation::kFlush: return "flush";
        case FileOperation::kSetLength: return "set length";
        case FileOperation::kMove: return "move";
        case FileOperation::kDelete: return "delete";
        case FileOperation::kClose: return "close";
    }
    return "?";
}

bool InjectFileFault(FileOperation operation, DWORD* error) {
    if (!g_armed.load(std::memory_order_relaxed)) return false;
    FaultState& state = State();
    void (*atFault)(FileOperation) = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.plan.failAt == 0 || (state.plan.operations & Mask(operation)) == 0) return false;
        const unsigned long number = ++state.report.counted;
        const bool fails =
            number == state.plan.failAt || (state.plan.persistent && number > state.plan.failAt);
        if (!fails) return false;
        if (state.report.injected++ == 0) state.report.first = operation;
        state.report.failed |= Mask(operation);
        *error = state.plan.error != 0 ? state.plan.error : DiskErrorOf(operation);
        atFault = state.plan.atFault;
    }
    if (atFault != nullptr) atFault(operation);
    return true;
}

void SetSleepReturnsAtOnce(bool atOnce) { g_sleepAtOnce.store(atOnce); }

bool SleepReturnsAtOnce() { return g_sleepAtOnce.load(std::memory_order_relaxed); }

}  // namespace kavex::posix::faults
