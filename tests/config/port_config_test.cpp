#include "config/port_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "config/sealed_file.h"
#include "support/config_dir.h"

using kavex::test::ConfigDirectory;

namespace {

class PortConfigTest : public ::testing::Test {
protected:
    ConfigDirectory directory;
};

// The plain record stored in the file, unsealed by hand.
std::unique_ptr<PortConfigRecord> ReadBack(const ConfigDirectory& directory) {
    auto record = std::make_unique<PortConfigRecord>();
    std::memset(record.get(), 0xEE, sizeof *record);
    const auto result = kavex::config::ReadSealedFile(directory.ConfigPath().c_str(), record.get(), sizeof *record);
    if (result.status != kavex::config::SealedReadStatus::kOk) return nullptr;
    return record;
}

TEST_F(PortConfigTest, WithoutAFileTheRecordHoldsTheDefaults) {
    CPortConfig config;
    ASSERT_NE(config.m_pRecord, nullptr);
    const PortConfigRecord& r = *config.m_pRecord;
    EXPECT_EQ(r.PrimaryPort, 1);
    EXPECT_EQ(r.Number88, 5000);
    EXPECT_EQ(r.Number92, 7777);
    EXPECT_EQ(r.Number96, 4500);
    EXPECT_EQ(r.Number100, 4501);
    EXPECT_EQ(r.Number104, 6500);
    EXPECT_EQ(r.Number108, 8001);
    EXPECT_EQ(r.Number112, 2);
    EXPECT_EQ(r.Number117, 1001);
    EXPECT_EQ(r.Byte187, 2);
    // Every other byte is zero.
    PortConfigRecord expected{};
    expected.Number88 = 5000;
    expected.Number92 = 7777;
    expected.Number96 = 4500;
    expected.Number100 = 4501;
    expected.Number104 = 6500;
    expected.Number108 = 8001;
    expected.Number112 = 2;
    expected.PrimaryPort = 1;
    expected.Number117 = 1001;
    expected.Byte187 = 2;
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
    EXPECT_FALSE(config.ConfigFileExists());
    EXPECT_FALSE(directory.ConfigExists());  // constructing never writes
}

TEST_F(PortConfigTest, WrittenPortsAreLoadedByANewObject) {
    kavex::test::WritePortConfig(directory, 3, {4, 0, 7, 255});
    CPortConfig config;
    EXPECT_EQ(config.m_pRecord->PrimaryPort, 3);
    EXPECT_EQ(config.GetPrimaryPort(), 3);
    EXPECT_EQ(config.GetFurtherPort(1), 4);
    EXPECT_EQ(config.GetFurtherPort(2), 0);
    EXPECT_EQ(config.GetFurtherPort(3), 7);
    EXPECT_EQ(config.GetFurtherPort(4), 255);
    EXPECT_EQ(config.GetFurtherPort(0), -1);
    EXPECT_EQ(config.GetFurtherPort(5), -1);
    EXPECT_EQ(config.GetNumber88(), 5000);
}

TEST_F(PortConfigTest, SaveCreatesTheFileAndLoadGivesBackTheSameBytes) {
    CPortConfig config;
    config.m_pRecord->FurtherPorts[1] = 9;
    config.m_pRecord->Reserved[0] = 0x5A;
    config.m_pRecord->Reserved[sizeof config.m_pRecord->Reserved - 1] = 0xA5;
    ASSERT_EQ(config.Save(), 1);
    EXPECT_EQ(directory.ReadConfigBytes().size(), sizeof(PortConfigRecord));
    EXPECT_TRUE(config.ConfigFileExists());

    auto stored = ReadBack(directory);
    ASSERT_NE(stored, nullptr);
    // The trailer was updated in the object's own record too.
    EXPECT_EQ(std::memcmp(stored.get(), config.m_pRecord, sizeof *stored), 0);
    EXPECT_NE(config.m_pRecord->Checksum, 0u);

    CPortConfig again;
    EXPECT_EQ(std::memcmp(again.m_pRecord, config.m_pRecord, sizeof *stored), 0);
}

}  // namespace
