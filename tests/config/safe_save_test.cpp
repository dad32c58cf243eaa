// Saving never leaves a short or empty file: each step of a save is made to
// fail (and, on POSIX, the process is made to end) in turn, and the old file
// is found intact every time.
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

#include "platform/posix/module_path.h"
#endif

using kavex::config::SaveStep;
using kavex::test::ConfigDirectory;

namespace {

constexpr SaveStep kAllSteps[] = {SaveStep::kOpenTarget, SaveStep::kCreateTemp, SaveStep::kOpenTemp,
                                  SaveStep::kWriteTemp,  SaveStep::kFlushTemp,  SaveStep::kCloseTemp,
                                  SaveStep::kReplace};

SaveStep g_failingStep = SaveStep::kOpenTarget;
bool FailTheChosenStep(SaveStep step) { return step == g_failingStep; }

int EntriesIn(const std::string& directory) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
#ifdef _WIN32
        // There the directory is the test program's own.
        if (entry.path().extension() == ".exe") continue;
#endif
        ++count;
    }
    return count;
}

class SafeSaveTest : public ::testing::Test {
protected:
    void TearDown() override { kavex::config::SetSaveFaultHook(nullptr); }
    ConfigDirectory directory;
};

TEST_F(SafeSaveTest, AFailingStepLeavesTheOldFileIntact) {
    kavex::test::WritePortConfig(directory, 3, {1, 2, 0, 0});
    const std::string before = directory.ReadConfigBytes();
    kavex::config::SetSaveFaultHook(FailTheChosenStep);
    for (SaveStep step : kAllSteps) {
        SCOPED_TRACE(static_cast<int>(step));
        g_failingStep = step;
        CPortConfig config;
        ASSERT_EQ(config.GetPrimaryPort(), 3);
        testing::internal::CaptureStdout();
        EXPECT_EQ(config.SetPrimaryPort(9), 0);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(printed.empty());  // the file error's description
        EXPECT_LT(printed.size(), 261u);
        EXPECT_EQ(config.GetPrimaryPort(), 9);
        EXPECT_EQ(directory.ReadConfigBytes(), before);
        EXPECT_EQ(EntriesIn(directory.Path()), 1);  // no temporary file left
    }
    kavex::config::SetSaveFaultHook(nullptr);
    CPortConfig config;
    EXPECT_EQ(config.SetPrimaryPort(9), 1);
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), 9);
}

TEST_F(SafeSaveTest, AFailingFirstSaveCreatesNoFile) {
    kavex::config::SetSaveFaultHook(FailTheChosenStep);
    for (SaveStep step : kAllSteps) {
        g_failingStep = step;
        CPortConfig config;
        testing::internal::CaptureStdout();
        EXPECT_EQ(config.Save(), 0);
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(directory.ConfigExists()) << static_cast<int>(step);
        EXPECT_EQ(EntriesIn(directory.Path()), 0);
    }
}

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
SaveStep g_crashStep = SaveStep::kOpenTarget;
bool CrashAtTheChosenStep(SaveStep step) {
    if (step == g_crashStep) _exit(0);
    return false;
}

TEST_F(SafeSaveTest, AProcessEndingAtAnyStepLeavesTheOldFileIntact) {
    kavex::test::WritePortConfig(directory, 3, {1, 2, 0, 0});
    const std::string before = directory.ReadConfigBytes();
    for (SaveStep step : kAllSteps) {
        g_crashStep = step;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            kavex::config::SetSaveFaultHook(CrashAtTheChosenStep);
            CPortConfig config;
            config.SetPrimaryPort(9);
            _exit(1);  // the hook never fired
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << static_cast<int>(step);
        EXPECT_EQ(directory.ReadConfigBytes(), before) << static_cast<int>(step);
        EXPECT_EQ(CPortConfig().GetPrimaryPort(), 3);
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
