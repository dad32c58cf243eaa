// The settings file against a failing disk and a failing heap: a load, a
// save, a save that creates the file, a setter and the rewrite of the older
// 482-byte form, with the Nth file operation (or the Nth allocation)
// failing once or from then on, for every N the operation reaches. Each
// time the result is 0 or success, nothing escapes, the lock and every
// handle, descriptor and heap block are given back, no temporary file stays
// beside the file, and the file verifies and holds the old or the new
// record (the older form: its old image or the new record).
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>

#include "platform/posix/fault_injection.h"
#include "settings/shared_view.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"
#include "support/fault_sweep.h"
#include "support/settings_env.h"

using kavex::posix::faults::FileOperation;
using kavex::test::FaultRun;
using kavex::test::FaultSweep;
using kavex::test::ReadBytes;
using kavex::test::SealedImage;
using kavex::test::WriteBytes;

namespace {

constexpr std::size_t kCovered = offsetof(VersionConfigRecord, Checksum);  // the bytes the CRC covers
constexpr char kTemporaryPrefix[] = "~vc";

enum class Failing { kDisk, kHeap };
void PrintTo(Failing failing, std::ostream* out) { *out << (failing == Failing::kDisk ? "disk" : "heap"); }

bool SameRecord(const VersionConfigRecord& a, const VersionConfigRecord& b) {
    return std::memcmp(&a, &b, kCovered) == 0;
}

// Whether another thread can take the settings lock at once: no run may
// keep it.
bool LockIsFree() {
    bool free = false;
    std::thread other([&] {
        const HANDLE mutex = CreateMutexA(nullptr, FALSE, kavex::settings::kMutexName);
        if (mutex == nullptr) return;
        const DWORD waited = WaitForSingleObject(mutex, 0);
        free = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        if (free) ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    return free;
}

int TemporaryFilesIn(const std::string& directory) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().filename().string().rfind(kTemporaryPrefix, 0) == 0) ++count;
    }
    return count;
}

class SettingsFaultTest : public ::testing::TestWithParam<std::tuple<Failing, bool>> {
protected:
    void SetUp() override {
        kavex::settings::WriteDefaults(old_);
        old_.Number510 = 510;
        std::strcpy(old_.Text805, "old");          // beyond the older form's reach
        kavex::settings::FillInUnsetValues(old_);  // so that the set-up changes nothing
        oldImage_ = SealedImage(old_);
        WriteBytes(path_, oldImage_);
        config_ = std::make_unique<CVersionConfig>(path_.c_str(), FALSE);
        ASSERT_NE(kavex::settings::SharedView(), nullptr);
        ASSERT_TRUE(SameRecord(Shared(), old_));
    }

    static VersionConfigRecord& Shared() { return kavex::settings::SharedView()->record; }

    int Sweep(const FaultSweep& sweep) const {
        const auto [failing, persistent] = GetParam();
        if (failing == Failing::kDisk) {
            kavex::posix::faults::FileFaultPlan plan;
            plan.persistent = persistent;
            return kavex::test::SweepFileFaults(plan, sweep);
        }
#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
        return kavex::test::SweepAllocationFaults(persistent, sweep);
#else
        ADD_FAILURE() << "allocation faults are not available in this build";
        return 0;
#endif
    }

    bool OnHeap() const { return std::get<0>(GetParam()) == Failing::kHeap; }

    // What every run must leave: nothing thrown, the lock free, and no
    // temporary file unless its deletion failed (the disk refused it, or
    // memory stayed short for it): a later save removes it.
    void ExpectCleanRun(const FaultRun& run) const {
        EXPECT_EQ(run.escaped, "");
        EXPECT_TRUE(LockIsFree());
        const bool deletionMayFail = OnHeap() && std::get<1>(GetParam());
        if (!run.Failed(FileOperation::kDelete) && !deletionMayFail) {
            EXPECT_EQ(TemporaryFilesIn(env.Scratch()), 0);
        }
        for (const auto& entry : std::filesystem::directory_iterator(env.Scratch())) {
            if (entry.path().filename().string().rfind(kTemporaryPrefix, 0) == 0)
                std::filesystem::remove(entry.path());
        }
    }

    // After a save that may have failed: a clean run, and the file the new
    // one when the save succeeded, else the old or the new one.
    void ExpectSavedOrKept(const FaultRun& run, BOOL saved, const std::string& newImage) const {
        ExpectCleanRun(run);
        const std::string image = ReadBytes(path_);
        if (run.injected == 0) {
            EXPECT_EQ(saved, TRUE);
        }
        if (saved) {
            EXPECT_TRUE(image == newImage);
        } else {
            EXPECT_TRUE(image == oldImage_ || image == newImage);
        }
    }

    kavex::test::SettingsEnvironment env;
    const std::string path_ = env.ScratchFile("faults.cfg");
    VersionConfigRecord old_{};
    std::string oldImage_;
    std::unique_ptr<CVersionConfig> config_;
};

INSTANTIATE_TEST_SUITE_P(Failing, SettingsFaultTest,
                         ::testing::Combine(
#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
                             ::testing::Values(Failing::kDisk, Failing::kHeap),
#else
        ::testing::Values(Failing::kDisk),
#endif
                             ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Failing, bool>>& info) {
                             return std::string(std::get<0>(info.param) == Failing::kDisk ? "Disk" : "Heap") +
                                    (std::get<1>(info.param) ? "FailingFromThenOn" : "FailingOnce");
                         });

TEST_P(SettingsFaultTest, ALoadGivesTheFileOrKeepsTheRecord) {
    VersionConfigRecord file = old_;
    file.Number510 = 1234;
    const std::string image = SealedImage(file);
    VersionConfigRecord marker = old_;
    marker.Number510 = 9;
    BOOL loaded = FALSE;
    FaultSweep sweep;
    sweep.prepare = [&] {
        WriteBytes(path_, image);
        Shared() = marker;
        loaded = FALSE;
    };
    sweep.attempt = [&] { loaded = config_->Load(path_.c_str()); };
    sweep.check = [&](const FaultRun& run) {
        ExpectCleanRun(run);
        if (run.injected == 0) {
            EXPECT_EQ(loaded, TRUE);
        }
        EXPECT_TRUE(SameRecord(Shared(), loaded ? file : marker));
        EXPECT_TRUE(ReadBytes(path_) == image);  // a load never writes
    };
    EXPECT_GE(Sweep(sweep), 2);
}

TEST_P(SettingsFaultTest, ASaveLeavesTheOldOrTheNewRecord) {
    VersionConfigRecord changed = old_;
    changed.Number510 = 999;
    std::strcpy(changed.Text805, "new");
    const std::string newImage = SealedImage(changed);
    BOOL saved = FALSE;
    FaultSweep sweep;
    sweep.prepare = [&] {
        WriteBytes(path_, oldImage_);
        Shared() = changed;
        saved = FALSE;
    };
    sweep.attempt = [&] { saved = config_->Save(path_.c_str()); };
    sweep.check = [&](const FaultRun& run) {
        ExpectSavedOrKept(run, saved, newImage);
        EXPECT_TRUE(SameRecord(Shared(), changed));  // the record is kept whatever the save did
    };
    EXPECT_GE(Sweep(sweep), 3);
}

TEST_P(SettingsFaultTest, ASaveThatCreatesTheFileWritesItWholeOrNotAtAll) {
    VersionConfigRecord changed = old_;
    changed.Number510 = 321;
    const std::string newImage = SealedImage(changed);
    BOOL saved = FALSE;
    FaultSweep sweep;
    sweep.prepare = [&] {
        kavex::test::RemoveFile(path_);
        Shared() = changed;
        saved = FALSE;
    };
    sweep.attempt = [&] { saved = config_->Save(path_.c_str()); };
    sweep.check = [&](const FaultRun& run) {
        ExpectCleanRun(run);
        if (run.injected == 0) {
            EXPECT_EQ(saved, TRUE);
        }
        if (saved || kavex::test::FileExists(path_)) {
            // A move whose final sync failed (on the disk, or for want of
            // memory) has put the whole file in place.
            EXPECT_TRUE(saved || run.Failed(FileOperation::kFlush) || OnHeap());
            EXPECT_TRUE(ReadBytes(path_) == newImage);
        }
    };
    Sweep(sweep);
}

TEST_P(SettingsFaultTest, ASetterLeavesTheOldOrTheNewRecord) {
    VersionConfigRecord changed = old_;
    changed.Number743 = 743;
    const std::string newImage = SealedImage(changed);
    BOOL saved = FALSE;
    FaultSweep sweep;
    sweep.prepare = [&] {
        WriteBytes(path_, oldImage_);
        ASSERT_TRUE(config_->Load(path_.c_str()));  // the record and the path the setter saves to
        saved = FALSE;
    };
    sweep.attempt = [&] { saved = config_->SetNumber743(743); };
    sweep.check = [&](const FaultRun& run) {
        ExpectSavedOrKept(run, saved, newImage);
        EXPECT_TRUE(SameRecord(Shared(), changed));  // the new value stays in the shared record
    };
    EXPECT_GE(Sweep(sweep), 3);
}

TEST_P(SettingsFaultTest, TheOlderFormIsTakenAndRewrittenOrLeftAsItWas) {
    VersionConfigRecord older;
    kavex::settings::WriteDefaults(older);
    older.VersionNumber = 12;
    std::strcpy(older.Region, "OLD");
    const std::string olderImage = kavex::test::OldFormImage(older);
    VersionConfigRecord taken = old_;  // its first 478 bytes from the older form, the rest kept
    std::memcpy(&taken, &older, kavex::settings::kOldFormCopied);
    const std::string newImage = SealedImage(taken);
    BOOL loaded = FALSE;
    FaultSweep sweep;
    sweep.prepare = [&] {
        WriteBytes(path_, olderImage);
        Shared() = old_;
        loaded = FALSE;
    };
    sweep.attempt = [&] { loaded = config_->Load(path_.c_str()); };
    sweep.check = [&](const FaultRun& run) {
        ExpectCleanRun(run);
        const std::string image = ReadBytes(path_);
        if (run.injected == 0) {
            EXPECT_EQ(loaded, TRUE);
            EXPECT_TRUE(image == newImage);
        }
        if (loaded) {
            EXPECT_TRUE(SameRecord(Shared(), taken));
            EXPECT_TRUE(image == olderImage || image == newImage);
        } else {
            EXPECT_TRUE(SameRecord(Shared(), old_));
            EXPECT_TRUE(image == olderImage);
        }
    };
    EXPECT_GE(Sweep(sweep), 3);
}

}  // namespace

#endif  // !_WIN32
