// A load of the port configuration whose Nth heap allocation fails, once or
// from then on, for every N the load reaches: it gives the file's record or
// keeps its own (or, when even the record could not be allocated, has none),
// and gives back every handle, descriptor and heap block, whether it
// returns or lets std::bad_alloc through.
#if !defined(_WIN32) && defined(KAVEX_HAVE_ALLOCATION_FAULTS)

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/port_config.h"
#include "config/sealed_file.h"
#include "support/config_dir.h"
#include "support/fault_sweep.h"

using kavex::test::ConfigDirectory;
using kavex::test::FaultRun;
using kavex::test::FaultSweep;
using kavex::test::SweepAllocationFaults;

namespace {

class AllocationFaultTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        kavex::test::WritePortConfig(directory, 3, {4, 0, 0, 0});
        ASSERT_EQ(
            kavex::config::ReadSealedFile(directory.ConfigPath().c_str(), file.get(), sizeof *file).status,
            kavex::config::SealedReadStatus::kOk);
        image = directory.ReadConfigBytes();
        CPortConfig::SetDefaults(*defaults);
    }

    bool Holds(const std::vector<std::uint8_t>& seen, const PortConfigRecord& record) const {
        return std::memcmp(seen.data(), &record, sizeof record) == 0;
    }

    ConfigDirectory directory;
    std::unique_ptr<PortConfigRecord> file = std::make_unique<PortConfigRecord>();
    std::unique_ptr<PortConfigRecord> defaults = std::make_unique<PortConfigRecord>();
    std::string image;
};

INSTANTIATE_TEST_SUITE_P(Heap, AllocationFaultTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "FailingFromThenOn" : "FailingOnce";
                         });

TEST_P(AllocationFaultTest, TheConstructorsLoadGivesTheFileTheDefaultsOrNoRecord) {
    bool built = false, hasRecord = false;
    std::vector<std::uint8_t> seen(sizeof(PortConfigRecord));
    FaultSweep sweep;
    sweep.attempt = [&] {
        built = hasRecord = false;
        CPortConfig config;
        built = true;
        hasRecord = config.m_pRecord != nullptr;
        if (hasRecord) std::memcpy(seen.data(), config.m_pRecord, seen.size());
    };
    sweep.check = [&](const FaultRun& run) {
        EXPECT_TRUE(run.escaped.empty() || run.escaped == "std::bad_alloc") << run.escaped;
        if (run.injected == 0) {
            ASSERT_TRUE(built && hasRecord);
            EXPECT_TRUE(Holds(seen, *file));
        } else if (built && hasRecord) {
            EXPECT_TRUE(Holds(seen, *file) || Holds(seen, *defaults));
        }
        EXPECT_EQ(directory.ReadConfigBytes(), image);
    };
    EXPECT_GE(SweepAllocationFaults(GetParam(), sweep), 2);
}

TEST_P(AllocationFaultTest, LoadGivesTheFileOrKeepsTheRecord) {
    std::unique_ptr<CPortConfig> config;
    BOOL loaded = FALSE;
    std::vector<std::uint8_t> seen(sizeof(PortConfigRecord));
    auto marker = std::make_unique<PortConfigRecord>(*defaults);
    marker->PrimaryPort = 9;
    FaultSweep sweep;
    sweep.prepare = [&] {
        config = std::make_unique<CPortConfig>();
        std::memcpy(config->m_pRecord, marker.get(), sizeof *marker);
        loaded = FALSE;
    };
    sweep.attempt = [&] { loaded = config->Load(); };
    sweep.finish = [&] {
        std::memcpy(seen.data(), config->m_pRecord, seen.size());
        config.reset();
    };
    sweep.check = [&](const FaultRun& run) {
        EXPECT_TRUE(run.escaped.empty() || run.escaped == "std::bad_alloc") << run.escaped;
        if (run.injected == 0) {
            EXPECT_EQ(loaded, TRUE);
        }
        EXPECT_TRUE(Holds(seen, loaded ? *file : *marker));
    };
    SweepAllocationFaults(GetParam(), sweep);
}

}  // namespace

#endif
