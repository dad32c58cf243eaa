// The shared settings view between processes: each test's other processes
// are fresh copies of the test program (support/child_process.h), so this
// runs the same natively and under Wine, with the real named mutex and file
// mapping there.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "settings/version_config.h"
#include "settings/version_fields.h"
#include "support/child_process.h"
#include "support/reader_timing.h"
#include "support/settings_env.h"

#ifndef _WIN32
#include "platform/posix/fault_injection.h"
#endif

using kavex::test::ChildProcess;
using kavex::test::FileExists;
using kavex::test::ReadBytes;
using kavex::test::RunChild;
using kavex::test::SealedImage;
using kavex::test::SettingsEnvironment;
using kavex::test::WriteBytes;

namespace {

const VersionConfigRecord& Shared() { return kavex::settings::SharedView()->record; }

bool WaitForFile(const std::string& path, int limitMs = 30000) {
    kavex::test::Stopwatch clock;
    while (!FileExists(path)) {
        if (clock.ElapsedMs() > limitMs) return false;
        kavex::test::SleepMs(5);
    }
    return true;
}

void Touch(const std::string& path) { kavex::test::WriteBytes(path, "x"); }

// Sets up its view from the file (arguments[0]) and checks that it holds
// Number510 = arguments[1].
KAVEX_CHILD_ROLE(SetUpAndExpect) {
    CVersionConfig config(arguments.at(0).c_str(), FALSE);
    return kavex::settings::SharedView() != nullptr && Shared().Number510 == std::stoi(arguments.at(1)) ? 0
                                                                                                        : 1;
}

// Sets up its view asking for the file to be created: arguments[0] is the
// path ("" for the located file); arguments[1], when given, a file error
// that the set-up's load meets ("read": its read fails; "denied": its open
// is refused). Exit 0 with the view set up and, under a file error, the
// load failed (the shared record holds the defaults).
KAVEX_CHILD_ROLE(SetUpCreating) {
    const std::string& path = arguments.at(0);
    const std::string fault = arguments.size() > 1 ? arguments[1] : std::string();
#ifndef _WIN32
    namespace faults = kavex::posix::faults;
    faults::FileFaultPlan plan;
    plan.failAt = 1;
    if (fault == "read") plan.operations = faults::Mask(faults::FileOperation::kRead);
    if (fault == "denied") {
        plan.operations = faults::Mask(faults::FileOperation::kOpen);
        plan.error = ERROR_ACCESS_DENIED;
    }
    if (!fault.empty()) faults::ArmFileFaults(plan);
#endif
    CVersionConfig config(path.empty() ? nullptr : path.c_str(), TRUE);
#ifndef _WIN32
    if (!fault.empty() && faults::DisarmFileFaults().injected != 1) return 3;
#endif
    if (kavex::settings::SharedView() == nullptr) return 1;
    if (!fault.empty()) {
        VersionConfigRecord defaults;
        kavex::settings::WriteDefaults(defaults);
        kavex::settings::FillInUnsetValues(defaults);
        if (std::memcmp(&Shared(), &defaults, offsetof(VersionConfigRecord, Checksum)) != 0) return 4;
    }
    return 0;
}

// Takes the settings lock, says so (creates arguments[1]) and waits to be
// killed.
KAVEX_CHILD_ROLE(HoldTheLock) {
    CVersionConfig config(arguments.at(0).c_str(), FALSE);
    config.Lock();
    Touch(arguments.at(1));
    kavex::test::SleepMs(120000);
    return 2;
}

// Saves arguments[2] times, each a record that tells writer and round apart.
KAVEX_CHILD_ROLE(SaveMany) {
    const std::string& path = arguments.at(0);
    const int writer = std::stoi(arguments.at(1));
    const int rounds = std::stoi(arguments.at(2));
    CVersionConfig config(path.c_str(), FALSE);
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        config.Lock();
        VersionConfigRecord record{};
        config.GetRecord(&record);
        record.Number510 = writer * 100000 + round;
        std::snprintf(record.Text805, sizeof record.Text805, "writer %d", writer);
        std::memset(record.Block761, writer, sizeof record.Block761);
        if (!config.SetRecord(&record)) ++failures;
        config.Unlock();
    }
    return failures == 0 ? 0 : 1;
}

class SharedViewTest : public ::testing::Test {
protected:
    SettingsEnvironment env;
};

TEST_F(SharedViewTest, AProcessSettingUpRebuildsTheRecordEveryProcessSees) {
    const std::string path = env.ScratchFile("shared.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    VersionConfigRecord record = Shared();
    record.Number510 = 1;
    ASSERT_TRUE(config.SetRecord(&record));
    ASSERT_EQ(RunChild("SetUpAndExpect", {path, "1"}), 0);  // B sees what A saved

    // Another program changes the file; A's view does not reload it...
    VersionConfigRecord changed = record;
    changed.Number510 = 2;
    changed.IpPort = 0;
    kavex::test::WriteBytes(path, kavex::test::SealedImage(changed));
    EXPECT_EQ(+Shared().Number510, 1);
    // ...until a process that has not set up its view does so: then A sees
    // B's rebuilt record, fill-ins included.
    ASSERT_EQ(RunChild("SetUpAndExpect", {path, "2"}), 0);
    EXPECT_EQ(+Shared().Number510, 2);
    EXPECT_EQ(+Shared().IpPort, 8998);
}

// The set-up writes the defaults only to the file it was given (the located
// one for none), and only when that file is missing or no settings file: a
// path it refuses, or a file it could not read, is never replaced.
TEST_F(SharedViewTest, TheSetUpCreatesOnlyTheNamedFileAndOnlyWhenItIsMissingOrInvalid) {
    VersionConfigRecord record;
    kavex::settings::WriteDefaults(record);
    VersionConfigRecord defaults = record;
    record.Number510 = 77;
    const std::string located = SealedImage(record);
    WriteBytes(env.LocatedFile(), located);

    // Paths too long for the library: nothing is loaded, and the located
    // file is not written in their place.
    for (const std::string& tooLong : {std::string(1024, 'p'), env.ScratchFile(std::string(1100, 'p'))}) {
        EXPECT_EQ(RunChild("SetUpCreating", {tooLong}), 0) << tooLong.size();
        EXPECT_TRUE(ReadBytes(env.LocatedFile()) == located) << tooLong.size();
    }

    // A named file that is missing is created, one that does not verify is
    // replaced; the located file stays as it was.
    const std::string named = env.ScratchFile("named.cfg");
    const std::string written = SealedImage(defaults);
    EXPECT_EQ(RunChild("SetUpCreating", {named}), 0);
    EXPECT_TRUE(ReadBytes(named) == written);
    for (const std::string& invalid : {std::string(2539, 'x'), std::string()}) {
        WriteBytes(named, invalid);
        EXPECT_EQ(RunChild("SetUpCreating", {named}), 0);
        EXPECT_TRUE(ReadBytes(named) == written) << invalid.size() << " bytes";
    }
    std::string damaged = SealedImage(record);
    damaged[700] = static_cast<char>(damaged[700] ^ 0x04);  // a CRC mismatch
    WriteBytes(named, damaged);
    EXPECT_EQ(RunChild("SetUpCreating", {named}), 0);
    EXPECT_TRUE(ReadBytes(named) == written);
    EXPECT_TRUE(ReadBytes(env.LocatedFile()) == located);

#ifndef _WIN32
    // A file the load could not read (the disk failed, access was refused)
    // may be good: it is left alone, named or located.
    WriteBytes(named, located);
    for (const char* fault : {"read", "denied"}) {
        EXPECT_EQ(RunChild("SetUpCreating", {named, fault}), 0) << fault;
        EXPECT_TRUE(ReadBytes(named) == located) << fault;
        EXPECT_EQ(RunChild("SetUpCreating", {"", fault}), 0) << fault;
        EXPECT_TRUE(ReadBytes(env.LocatedFile()) == located) << fault;
    }
#endif

    // With no located file, a refused path does not create one either.
    kavex::test::RemoveFile(env.LocatedFile());
    EXPECT_EQ(RunChild("SetUpCreating", {env.ScratchFile(std::string(1100, 'p'))}), 0);
    EXPECT_FALSE(FileExists(env.LocatedFile()));
}

TEST_F(SharedViewTest, AProcessKilledHoldingTheLockDoesNotBlockTheOthers) {
    const std::string path = env.ScratchFile("killed.cfg");
    const std::string held = env.ScratchFile("held");
    // The lock taken by a process that is then killed, before this one
    // has the mutex open...
    {
        ChildProcess holder("HoldTheLock", {path, held});
        ASSERT_TRUE(holder.Started());
        ASSERT_TRUE(WaitForFile(held));
        holder.Kill();
    }
    kavex::test::Stopwatch clock;
    CVersionConfig config(path.c_str(), TRUE);
    EXPECT_TRUE(FileExists(path));
    // ...and after: this process waits for it and gets it when the holder dies.
    kavex::test::RemoveFile(held);
    ChildProcess holder("HoldTheLock", {path, held});
    ASSERT_TRUE(WaitForFile(held));
    holder.Kill();
    EXPECT_TRUE(config.SetNumber743(743));
    EXPECT_LT(clock.ElapsedMs(), 30000);
}

TEST_F(SharedViewTest, ProcessesSavingAtOnceLeaveOneWholeRecord) {
#ifdef _WIN32
    const int writers = 8, rounds = 50;  // Wine saves more slowly
#else
    const int writers = 8, rounds = 200;
#endif
    const std::string path = env.ScratchFile("busy.cfg");
    { CVersionConfig config(path.c_str(), TRUE); }
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int writer = 1; writer <= writers; ++writer) {
        children.push_back(std::make_unique<ChildProcess>(
            "SaveMany", std::vector<std::string>{path, std::to_string(writer), std::to_string(rounds)}));
    }
    for (auto& child : children) EXPECT_EQ(child->Wait(120000), 0);
    VersionConfigRecord file{};
    ASSERT_TRUE(kavex::test::UnsealImage(ReadBytes(path), &file));
    const int writer = file.Number510 / 100000;
    const int round = file.Number510 % 100000;
    EXPECT_GE(writer, 1);
    EXPECT_LE(writer, writers);
    EXPECT_EQ(round, rounds - 1);  // the last save of whoever saved last
    EXPECT_EQ(std::string(file.Text805), "writer " + std::to_string(writer));
    EXPECT_EQ(+file.Block761[0], writer);
    EXPECT_EQ(+file.Block761[31], writer);
    // No save left a temporary file behind.
    for (const auto& entry : std::filesystem::directory_iterator(env.Scratch())) {
        EXPECT_NE(entry.path().filename().string().rfind("~vc", 0), 0u) << entry.path();
    }
}

}  // namespace
