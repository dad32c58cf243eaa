// Every load and save of the port configuration against a failing disk: the
// Nth file operation fails, once (a transient error) or from then on (the
// disk is gone), for every N the operation reaches. Each time the result is
// 0 or success, nothing is left behind (handles, descriptors, heap blocks,
// temporary files) and the file holds exactly the old or the new record.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/port_config.h"
#include "config/sealed_file.h"
#include "platform/posix/fault_injection.h"
#include "support/config_dir.h"
#include "support/fault_sweep.h"

using kavex::posix::faults::FileFaultPlan;
using kavex::posix::faults::FileOperation;
using kavex::posix::faults::Mask;
using kavex::test::ConfigDirectory;
using kavex::test::FaultRun;
using kavex::test::FaultSweep;
using kavex::test::SweepFileFaults;

namespace {

constexpr std::size_t kCovered = offsetof(PortConfigRecord, Checksum);  // the bytes the CRC covers

// The temporary files a save left in the directory.
int TemporaryFilesIn(const std::string& directory) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("~kv", 0) == 0) ++count;
    }
    return count;
}

std::uint32_t FixedClock() { return 1700000000u; }

class FileFaultTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { kavex::config::SetClockSource(FixedClock); }
    void TearDown() override { kavex::config::SetClockSource(nullptr); }

    FileFaultPlan Plan() const {
        FileFaultPlan plan;
        plan.persistent = GetParam();
        return plan;
    }
    // Checks what a save left: no temporary file, unless the disk refused
    // to delete one (a later save's business).
    void ExpectNoTemporaryFile(const FaultRun& run) const {
        if (!run.Failed(FileOperation::kDelete)) {
            EXPECT_EQ(TemporaryFilesIn(directory.Path()), 0);
        }
        for (const auto& entry : std::filesystem::directory_iterator(directory.Path())) {
            if (entry.path().filename().string().rfind("~kv", 0) == 0) std::filesystem::remove(entry.path());
        }
    }

    ConfigDirectory directory;
};

INSTANTIATE_TEST_SUITE_P(Disk, FileFaultTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "FailingFromThenOn" : "FailingOnce";
                         });

TEST_P(FileFaultTest, ALoadGivesTheFileOrKeepsTheRecord) {
    kavex::test::WritePortConfig(directory, 3, {4, 0, 0, 0});
    const std::string image = directory.ReadConfigBytes();
    auto file = std::make_unique<PortConfigRecord>();
    ASSERT_EQ(kavex::config::ReadSealedFile(directory.ConfigPath().c_str(), file.get(), sizeof *file).status,
              kavex::config::SealedReadStatus::kOk);
    auto defaults = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*defaults);
    auto marker = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*marker);
    marker->PrimaryPort = 9;

    // The constructor's load: the file's record, else the defaults.
    std::unique_ptr<CPortConfig> config;
    std::vector<std::uint8_t> seen(sizeof(PortConfigRecord));
    FaultSweep construct;
    construct.attempt = [&] { config = std::make_unique<CPortConfig>(); };
    construct.finish = [&] {
        if (config) std::memcpy(seen.data(), config->m_pRecord, seen.size());
        config.reset();
    };
    construct.check = [&](const FaultRun& run) {
        EXPECT_EQ(run.escaped, "");
        const PortConfigRecord& expected = run.injected == 0 ? *file : *defaults;
        EXPECT_EQ(std::memcmp(seen.data(), &expected, seen.size()), 0);
        EXPECT_EQ(directory.ReadConfigBytes(), image);  // a load never writes
    };
    const int runs = SweepFileFaults(Plan(), construct);
    EXPECT_GE(runs, 3);  // open, read, close at least

    // Load on an object: 1 with the file's record, else 0 with its own kept.
    BOOL loaded = FALSE;
    FaultSweep load;
    load.prepare = [&] {
        config = std::make_unique<CPortConfig>();
        std::memcpy(config->m_pRecord, marker.get(), sizeof *marker);
    };
    load.attempt = [&] { loaded = config->Load(); };
    load.finish = construct.finish;
    load.check = [&](const FaultRun& run) {
        EXPECT_EQ(run.escaped, "");
        EXPECT_EQ(loaded, run.injected == 0 ? TRUE : FALSE);
        const PortConfigRecord& expected = loaded ? *file : *marker;
        EXPECT_EQ(std::memcmp(seen.data(), &expected, seen.size()), 0);
        EXPECT_EQ(directory.ReadConfigBytes(), image);
    };
    EXPECT_EQ(SweepFileFaults(Plan(), load), runs);
}

// One setter of CPortConfig, with a value that differs from the file's.
struct Setter {
    const char* name;
    std::function<BOOL(CPortConfig&)> call;
};

const std::vector<Setter>& EverySetter() {
    static const std::vector<Setter> setters = {
        {"SetText0", [](CPortConfig& c) { return c.SetText0("text zero"); }},
        {"SetText16", [](CPortConfig& c) { return c.SetText16("text sixteen"); }},
        {"SetText52", [](CPortConfig& c) { return c.SetText52("text fifty-two"); }},
        {"SetText125", [](CPortConfig& c) { return c.SetText125("text 125"); }},
        {"SetText156", [](CPortConfig& c) { return c.SetText156("text 156"); }},
        {"SetText188", [](CPortConfig& c) { return c.SetText188("text 188"); }},
        {"SetText288", [](CPortConfig& c) { return c.SetText288("text 288"); }},
        {"SetNumber88", [](CPortConfig& c) { return c.SetNumber88(88); }},
        {"SetNumber92", [](CPortConfig& c) { return c.SetNumber92(92); }},
        {"SetNumber96", [](CPortConfig& c) { return c.SetNumber96(96); }},
        {"SetNumber100", [](CPortConfig& c) { return c.SetNumber100(100); }},
        {"SetNumber104", [](CPortConfig& c) { return c.SetNumber104(104); }},
        {"SetNumber108", [](CPortConfig& c) { return c.SetNumber108(108); }},
        {"SetNumber112", [](CPortConfig& c) { return c.SetNumber112(112); }},
        {"SetPrimaryPort", [](CPortConfig& c) { return c.SetPrimaryPort(7); }},
        {"SetNumber117", [](CPortConfig& c) { return c.SetNumber117(117); }},
        {"SetNumber121", [](CPortConfig& c) { return c.SetNumber121(121); }},
        {"SetNumber308", [](CPortConfig& c) { return c.SetNumber308(308); }},
        {"SetNumber312", [](CPortConfig& c) { return c.SetNumber312(312); }},
        {"SetNumber320", [](CPortConfig& c) { return c.SetNumber320(320); }},
        {"SetShort332", [](CPortConfig& c) { return c.SetShort332(332); }},
        {"AddDailyCount", [](CPortConfig& c) { return c.AddDailyCount(5); }},
        {"Save", [](CPortConfig& c) { return c.Save(); }},
    };
    return setters;
}

TEST_P(FileFaultTest, EverySaveLeavesTheOldOrTheNewRecord) {
    kavex::test::WritePortConfig(directory, 3, {4, 0, 0, 0});
    const std::string oldImage = directory.ReadConfigBytes();
    for (const Setter& setter : EverySetter()) {
        SCOPED_TRACE(setter.name);
        // What the save gives when nothing fails.
        std::vector<std::uint8_t> changed(sizeof(PortConfigRecord));
        std::string newImage;
        {
            CPortConfig reference;
            ASSERT_EQ(setter.call(reference), TRUE);
            std::memcpy(changed.data(), reference.m_pRecord, changed.size());
            newImage = directory.ReadConfigBytes();
            directory.WriteConfigBytes(oldImage);
        }

        std::unique_ptr<CPortConfig> config;
        BOOL saved = FALSE;
        std::vector<std::uint8_t> inMemory(sizeof(PortConfigRecord));
        bool replacementFailed = false;     // some N failed the replacement itself
        bool failedAfterReplacing = false;  // some N failed with the new file in place
        FaultSweep sweep;
        sweep.prepare = [&] { config = std::make_unique<CPortConfig>(); };
        sweep.attempt = [&] { saved = setter.call(*config); };
        sweep.finish = [&] {
            std::memcpy(inMemory.data(), config->m_pRecord, inMemory.size());
            config.reset();
        };
        sweep.check = [&](const FaultRun& run) {
            EXPECT_EQ(run.escaped, "");
            const std::string image = directory.ReadConfigBytes();
            if (run.injected == 0) {
                EXPECT_EQ(saved, TRUE);
            }
            if (saved) {
                EXPECT_EQ(image, newImage);
            } else {
                EXPECT_TRUE(image == oldImage || image == newImage);
            }
            if (run.Failed(FileOperation::kMove)) replacementFailed = true;
            if (!saved && image == newImage && newImage != oldImage) failedAfterReplacing = true;
            // The new value stays in memory whether or not the save succeeded.
            EXPECT_EQ(std::memcmp(inMemory.data(), changed.data(), kCovered), 0);
            ExpectNoTemporaryFile(run);
            directory.WriteConfigBytes(oldImage);
        };
        SweepFileFaults(Plan(), sweep);
        // The sweep reached the replacement of the existing file: its move,
        // and the sync of the directory after it.
        EXPECT_TRUE(replacementFailed) << "no run made the replacement fail";
        if (newImage != oldImage) {
            EXPECT_TRUE(failedAfterReplacing) << "no run failed once the new file was in place";
        }
    }
}

TEST_P(FileFaultTest, AFirstSaveCreatesTheWholeFileOrNone) {
    std::string newImage;
    {
        CPortConfig reference;
        ASSERT_EQ(reference.Save(), TRUE);
        newImage = directory.ReadConfigBytes();
        directory.RemoveConfig();
    }
    BOOL saved = FALSE;
    FaultSweep sweep;
    sweep.attempt = [&] {
        CPortConfig config;
        saved = config.Save();
    };
    sweep.check = [&](const FaultRun& run) {
        EXPECT_EQ(run.escaped, "");
        if (run.injected == 0) {
            EXPECT_EQ(saved, TRUE);
        }
        if (saved || directory.ConfigExists()) {
            // A move whose final sync failed has put the whole file in place.
            EXPECT_TRUE(saved || run.Failed(FileOperation::kFlush));
            EXPECT_EQ(directory.ReadConfigBytes(), newImage);
        }
        ExpectNoTemporaryFile(run);
        directory.RemoveConfig();
    };
    SweepFileFaults(Plan(), sweep);
}

// A later save removes what a save whose cleanup failed left behind, so
// that temporary files never pile up.
TEST(TemporaryFileTest, ALaterSaveRemovesTheTemporaryFileAFailedCleanupLeft) {
    ConfigDirectory directory;
    kavex::test::WritePortConfig(directory, 3, {4, 0, 0, 0});
    CPortConfig config;
    {
        // The write fails, and so does the deletion of the temporary file.
        FileFaultPlan plan;
        plan.failAt = 1;
        plan.persistent = true;
        plan.operations = Mask(FileOperation::kWrite) | Mask(FileOperation::kDelete);
        kavex::posix::faults::ScopedFileFaults faults(plan);
        kavex::test::QuietStdout quiet;
        EXPECT_EQ(config.SetPrimaryPort(5), FALSE);
    }
    ASSERT_EQ(TemporaryFilesIn(directory.Path()), 1);
    // A save removes only leftovers that have aged (a younger one may belong
    // to a save of another process that is still running): let it age.
    for (const auto& entry : std::filesystem::directory_iterator(directory.Path())) {
        if (entry.path().extension() != ".tmp") continue;
        std::filesystem::last_write_time(
            entry.path(), std::filesystem::last_write_time(entry.path()) - std::chrono::seconds(10));
    }
    EXPECT_EQ(config.SetPrimaryPort(6), TRUE);
    EXPECT_EQ(TemporaryFilesIn(directory.Path()), 0);
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), 6);
}

// A sharing violation (another process saving at that moment) is tried
// again, so neither a load nor a save fails for it.
TEST(FileSharingFaultTest, ASharingViolationIsTriedAgain) {
    ConfigDirectory directory;
    kavex::test::WritePortConfig(directory, 3, {4, 0, 0, 0});
    FileFaultPlan plan;
    plan.failAt = 1;
    plan.operations = Mask(FileOperation::kOpen);
    plan.error = ERROR_SHARING_VIOLATION;
    {
        kavex::posix::faults::ScopedFileFaults faults(plan);
        CPortConfig config;
        EXPECT_EQ(config.GetPrimaryPort(), 3);
    }
    CPortConfig config;
    {
        kavex::posix::faults::ScopedFileFaults faults(plan);
        EXPECT_EQ(config.SetPrimaryPort(5), TRUE);
    }
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), 5);
}

// A replacement that meets a load holding the file (Windows refuses it with
// one of these errors while a reader has the file open) is tried again as
// well, for a bounded time measured by the clock.
TEST(FileSharingFaultTest, AReplacementThatMeetsAReaderIsTriedAgain) {
    ConfigDirectory directory;
    kavex::test::WritePortConfig(directory, 3, {4, 0, 0, 0});
    CPortConfig config;
    int port = 5;
    for (const DWORD error :
         {ERROR_SHARING_VIOLATION, ERROR_UNABLE_TO_REMOVE_REPLACED, ERROR_ACCESS_DENIED}) {
        SCOPED_TRACE(error);
        FileFaultPlan plan;
        plan.failAt = 1;
        plan.operations = Mask(FileOperation::kMove);
        plan.error = error;
        BOOL saved = FALSE;
        kavex::posix::faults::FileFaultReport report;
        {
            kavex::posix::faults::ScopedFileFaults faults(plan);
            saved = config.SetPrimaryPort(port);
            report = kavex::posix::faults::FileFaultsSoFar();
        }
        EXPECT_EQ(report.injected, 1u);  // the replacement did meet the reader
        EXPECT_EQ(saved, TRUE);
        EXPECT_EQ(CPortConfig().GetPrimaryPort(), port);
        ++port;
    }

    // A reader that does not let go: the save gives up after the bound.
    FileFaultPlan plan;
    plan.failAt = 1;
    plan.persistent = true;
    plan.operations = Mask(FileOperation::kMove);
    plan.error = ERROR_SHARING_VIOLATION;
    BOOL saved = TRUE;
    const auto start = std::chrono::steady_clock::now();
    {
        kavex::posix::faults::ScopedFileFaults faults(plan);
        kavex::test::QuietStdout quiet;
        saved = config.SetPrimaryPort(port);
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_EQ(saved, FALSE);
    EXPECT_GE(waited, 150);   // about 200 ms
    EXPECT_LT(waited, 5000);  // and not for ever (generous: a shared machine)
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), port - 1);
    EXPECT_EQ(TemporaryFilesIn(directory.Path()), 0);
}

}  // namespace

#endif  // !_WIN32
