// The test switches of the POSIX layer: the Nth file operation fails as a
// disk would make it fail, and nothing else changes.
#ifndef _WIN32

#include "platform/posix/fault_injection.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/handles.h"
#include "platform/win32.h"
#include "support/allocation_faults.h"
#include "support/fault_sweep.h"
#include "support/reader_timing.h"

namespace fs = std::filesystem;
using kavex::posix::faults::FileFaultPlan;
using kavex::posix::faults::FileOperation;
using kavex::posix::faults::Mask;
using kavex::posix::faults::ScopedFileFaults;

namespace {

class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kavex-faults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override {
        kavex::posix::faults::DisarmFileFaults();
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }
    std::string PathOf(const char* name) const { return directory_ + "/" + name; }
    static HANDLE Create(const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string directory_;
};

TEST_F(FaultInjectionTest, TheNthCountedOperationFailsOnceOrFromThenOn) {
    const std::string path = PathOf("file");
    FileFaultPlan plan;
    plan.failAt = 2;
    plan.operations = Mask(FileOperation::kWrite);
    {
        ScopedFileFaults faults(plan);
        HANDLE file = Create(path);  // not counted
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, "abcd", 4, &written, nullptr));
        // A disk that fills up has stored the first half.
        EXPECT_FALSE(WriteFile(file, "efgh", 4, &written, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
        EXPECT_EQ(written, 2u);
        EXPECT_TRUE(WriteFile(file, "ij", 2, &written, nullptr));  // once only
        EXPECT_TRUE(CloseHandle(file));
        const auto report = kavex::posix::faults::FileFaultsSoFar();
        EXPECT_EQ(report.counted, 3u);
        EXPECT_EQ(report.injected, 1u);
        EXPECT_EQ(report.first, FileOperation::kWrite);
    }
    EXPECT_EQ(Contents(path), "abcdefij");

    plan.failAt = 1;
    plan.persistent = true;
    plan.operations = kavex::posix::faults::kEveryFileOperation;
    plan.error = ERROR_SHARING_VIOLATION;
    ScopedFileFaults faults(plan);
    EXPECT_EQ(Create(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(kavex::posix::faults::FileFaultsSoFar().failed,
              Mask(FileOperation::kOpen) | Mask(FileOperation::kDelete));
    EXPECT_EQ(Contents(path), "abcdefij");
}

TEST_F(FaultInjectionTest, AFailingCloseReleasesTheHandleAndAFailingSyncFollowsTheMove) {
    const std::string from = PathOf("from"), to = PathOf("to");
    const auto handles = kavex::posix::OpenHandleCount();
    HANDLE file = Create(from);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FileFaultPlan plan;
    plan.failAt = 1;
    {
        ScopedFileFaults faults(plan);
        EXPECT_FALSE(CloseHandle(file));
        EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
    }
    EXPECT_EQ(kavex::posix::OpenHandleCount(), handles);
    EXPECT_FALSE(CloseHandle(file));  // gone

    plan.failAt = 2;  // the move, then the directory sync
    ScopedFileFaults faults(plan);
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(kavex::posix::faults::FileFaultsSoFar().first, FileOperation::kFlush);
    EXPECT_FALSE(fs::exists(from));
    EXPECT_TRUE(fs::exists(to));
}

// ReplaceFileA counts as a move, then as the sync of the directory that
// makes the new name durable: the first fails with both files as they
// were, the second with the replacement in place.
TEST_F(FaultInjectionTest, AReplacementFailsAtItsMoveOrAtTheSyncAfterIt) {
    const std::string replaced = PathOf("replaced"), replacement = PathOf("replacement");
    std::ofstream(replaced) << "old";
    std::ofstream(replacement) << "new";
    FileFaultPlan plan;
    plan.failAt = 1;
    {
        ScopedFileFaults faults(plan);
        EXPECT_FALSE(ReplaceFileA(replaced.c_str(), replacement.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
        EXPECT_EQ(kavex::posix::faults::FileFaultsSoFar().first, FileOperation::kMove);
    }
    EXPECT_EQ(Contents(replaced), "old");
    EXPECT_EQ(Contents(replacement), "new");

    plan.failAt = 2;
    ScopedFileFaults faults(plan);
    EXPECT_FALSE(ReplaceFileA(replaced.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                              nullptr, nullptr));
    EXPECT_EQ(kavex::posix::faults::FileFaultsSoFar().first, FileOperation::kFlush);
    EXPECT_EQ(Contents(replaced), "new");
    EXPECT_FALSE(fs::exists(replacement));
}

TEST_F(FaultInjectionTest, AProcessCanEndAtTheFailingOperation) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileFaultPlan plan;
        plan.failAt = 1;
        plan.atFault = [](FileOperation operation) { _exit(operation == FileOperation::kOpen ? 7 : 1); };
        kavex::posix::faults::ArmFileFaults(plan);
        Create(PathOf("never"));
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_FALSE(fs::exists(PathOf("never")));
}

TEST(SleepSwitchTest, SleepCanReturnAtOnce) {
    kavex::posix::faults::SetSleepReturnsAtOnce(true);
    kavex::test::Stopwatch clock;
    for (int k = 0; k < 50; ++k) Sleep(100);
    kavex::posix::faults::SetSleepReturnsAtOnce(false);
    EXPECT_LT(clock.ElapsedMs(), 1000);
    kavex::test::Stopwatch again;
    Sleep(50);
    EXPECT_GE(again.ElapsedMs(), 45);
}

#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
// An open whose handle object cannot be allocated fails as Windows fails it,
// and keeps neither the descriptor nor the file's share-mode lock.
TEST_F(FaultInjectionTest, AnOpenThatRunsOutOfMemoryKeepsNothing) {
    const std::string path = PathOf("file");
    std::ofstream(path) << "x";
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    kavex::test::FaultSweep sweep;
    sweep.attempt = [&] {
        file = Create(path);
        error = GetLastError();
    };
    sweep.finish = [&] {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    };
    sweep.check = [&](const kavex::test::FaultRun& run) {
        EXPECT_EQ(run.escaped, "");
        if (file == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(error, ERROR_NOT_ENOUGH_MEMORY);
        }
    };
    kavex::test::SweepAllocationFaults(false, sweep);
}
#endif

}  // namespace

#endif  // !_WIN32
