// Saving never leaves a short or empty file. On POSIX each file operation
// of a save is made to fail at the platform seam in turn (and, in a child,
// the process is made to end there), and the old file is found intact every
// time. Everywhere, a file held open elsewhere is neither loaded nor saved.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "config/port_config.h"
#include "config/sealed_file.h"
#include "support/config_dir.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/fault_injection.h"
#include "platform/posix/module_path.h"
#include "support/fault_sweep.h"
#endif

using kavex::test::ConfigDirectory;

namespace {

class SafeSaveTest : public ::testing::Test {
protected:
    ConfigDirectory directory;
};

#ifndef _WIN32
int EntriesIn(const std::string& directory) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
    return count;
}

using kavex::posix::faults::FileFaultPlan;
using kavex::posix::faults::FileOperation;
using kavex::test::FaultRun;
using kavex::test::FaultSweep;

TEST_F(SafeSaveTest, AFailingOperationLeavesTheOldFileIntact) {
    kavex::test::WritePortConfig(directory, 3, {1, 2, 0, 0});
    const std::string before = directory.ReadConfigBytes();
    BOOL saved = FALSE;
    std::size_t printed = 0;  // characters of the file error's description
    std::unique_ptr<CPortConfig> config;
    FaultSweep sweep;
    sweep.quiet = false;  // the description of the file error is checked
    sweep.prepare = [&] {
        config = std::make_unique<CPortConfig>();
        testing::internal::CaptureStdout();
    };
    sweep.attempt = [&] { saved = config->SetPrimaryPort(9); };
    sweep.finish = [&] {
        printed = testing::internal::GetCapturedStdout().size();
        EXPECT_EQ(config->GetPrimaryPort(), 9);  // kept in memory either way
        config.reset();
    };
    sweep.check = [&](const FaultRun& run) {
        if (run.injected == 0) return;
        // The failures before the move (the final directory sync fails
        // after it, with the new file in place).
        if (run.fileReport.first == FileOperation::kFlush && directory.ReadConfigBytes() != before) return;
        EXPECT_EQ(saved, FALSE);
        EXPECT_GT(printed, 0u);
        EXPECT_LT(printed, 261u);
        EXPECT_EQ(directory.ReadConfigBytes(), before);
        EXPECT_EQ(EntriesIn(directory.Path()), 1);  // no temporary file left
    };
    EXPECT_GE(kavex::test::SweepFileFaults(FileFaultPlan{}, sweep), 10);  // nine operations, then none
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), 9);
}

TEST_F(SafeSaveTest, AFailingFirstSaveCreatesNoFile) {
    BOOL saved = FALSE;
    std::unique_ptr<CPortConfig> config;
    FaultSweep sweep;
    // The object's own load (of no file) is made before the failures start.
    sweep.prepare = [&] { config = std::make_unique<CPortConfig>(); };
    sweep.attempt = [&] { saved = config->Save(); };
    sweep.finish = [&] { config.reset(); };
    sweep.check = [&](const FaultRun& run) {
        if (run.injected == 0 || run.fileReport.first == FileOperation::kFlush) {
            directory.RemoveConfig();
            return;
        }
        EXPECT_EQ(saved, FALSE);
        EXPECT_FALSE(directory.ConfigExists());
        EXPECT_EQ(EntriesIn(directory.Path()), 0);
    };
    kavex::test::SweepFileFaults(FileFaultPlan{}, sweep);
}
#endif

TEST_F(SafeSaveTest, AFileHeldOpenElsewhereIsNeitherLoadedNorSaved) {
    kavex::test::WritePortConfig(directory, 3, {0, 0, 0, 0});
    const std::string before = directory.ReadConfigBytes();
    const HANDLE holder =
        CreateFileA(directory.ConfigPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    testing::internal::CaptureStdout();
    CPortConfig config;  // its load fails: the file is open elsewhere
    EXPECT_EQ(config.GetPrimaryPort(), 1);
    EXPECT_EQ(config.SetPrimaryPort(7), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("sharing violation"), std::string::npos) << printed;
    CloseHandle(holder);
    EXPECT_EQ(directory.ReadConfigBytes(), before);
    EXPECT_EQ(config.Load(), 1);
    EXPECT_EQ(config.GetPrimaryPort(), 3);
}

#ifndef _WIN32
void EndTheProcess(FileOperation) { _exit(0); }

TEST_F(SafeSaveTest, AProcessEndingAtAnyOperationLeavesTheOldFileIntact) {
    kavex::test::WritePortConfig(directory, 3, {1, 2, 0, 0});
    const std::string before = directory.ReadConfigBytes();
    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 50u);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CPortConfig config;
            FileFaultPlan plan;
            plan.failAt = n;
            plan.atFault = EndTheProcess;
            kavex::posix::faults::ArmFileFaults(plan);
            config.SetPrimaryPort(9);
            _exit(1);  // the save ran whole before the Nth operation
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 1) {
            // Open and close the target; create, open, write, flush and close
            // the copy; move it over the target and sync the directory.
            EXPECT_GE(n, 10u);
            EXPECT_EQ(CPortConfig().GetPrimaryPort(), 9);
            break;
        }
        ASSERT_EQ(WEXITSTATUS(status), 0);
        // Ended before its new file was in place, or once it was.
        const int primary = CPortConfig().GetPrimaryPort();
        EXPECT_TRUE(primary == 3 || primary == 9) << primary;
        if (primary == 3) {
            EXPECT_EQ(directory.ReadConfigBytes(), before);
        }
        if (primary == 9) kavex::test::WritePortConfig(directory, 3, {1, 2, 0, 0});
    }
}

TEST_F(SafeSaveTest, AFileHeldByAnotherProcessIsNotLoaded) {
    kavex::test::WritePortConfig(directory, 3, {0, 0, 0, 0});
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const HANDLE held = CreateFileA(directory.ConfigPath().c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        char byte = held != INVALID_HANDLE_VALUE ? 'y' : 'n';
        (void)!write(ready[1], &byte, 1);
        (void)!read(release[0], &byte, 1);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    testing::internal::CaptureStdout();
    CPortConfig config;
    EXPECT_EQ(config.GetPrimaryPort(), 1);
    testing::internal::GetCapturedStdout();
    (void)!write(release[1], "x", 1);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(config.Load(), 1);
    EXPECT_EQ(config.GetPrimaryPort(), 3);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

// A made-up executable whose directory makes the composed path exactly
// `length` characters long.
std::string ExecutableForConfigPathLength(const std::string& base, std::size_t length) {
    const std::size_t fixed = base.size() + 1 + std::strlen("/ipportconfig.ini");
    std::string directory = base + "/" + std::string(length - fixed, 'd');
    std::filesystem::create_directories(directory);
    return directory + "/host-program";
}

TEST_F(SafeSaveTest, APathLongerThan259CharactersIsRefusedWhole) {
    const std::string fits = ExecutableForConfigPathLength(directory.Path(), 259);
    kavex::posix::OverrideModuleFileName(fits.c_str());
    {
        CPortConfig config;
        EXPECT_EQ(config.Save(), 1);
        char path[MAX_PATH] = {};
        EXPECT_EQ(config.GetConfigPath(path), 1);
        EXPECT_EQ(std::strlen(path), 259u);
        EXPECT_EQ(config.Load(), 1);
    }
    const std::string tooLong = ExecutableForConfigPathLength(directory.Path(), 260);
    kavex::posix::OverrideModuleFileName(tooLong.c_str());
    CPortConfig config;
    char path[MAX_PATH] = {};
    EXPECT_EQ(config.GetConfigPath(path), 0);
    for (char c : path) ASSERT_EQ(c, '\0');
    EXPECT_EQ(config.ConfigFileExists(), 0);
    EXPECT_EQ(config.Save(), 0);
    EXPECT_EQ(config.Load(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(tooLong).parent_path() / "ipportconfig.ini"));
    // An executable path that itself does not fit is refused as well.
    const std::string huge = directory.Path() + "/" + std::string(300, 'x') + "/host-program";
    kavex::posix::OverrideModuleFileName(huge.c_str());
    EXPECT_EQ(config.GetConfigPath(path), 0);
    EXPECT_EQ(config.Save(), 0);
}
#endif

}  // namespace
