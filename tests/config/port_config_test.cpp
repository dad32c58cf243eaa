#include "config/port_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/sealed_file.h"
#include "reader/configured_ports.h"
#include "support/config_dir.h"
#include "support/system_quirks.h"

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
    const auto result =
        kavex::config::ReadSealedFile(directory.ConfigPath().c_str(), record.get(), sizeof *record);
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
    EXPECT_EQ(std::int32_t{r.Number117}, 1001);  // a copy: packed, not aligned for a reference
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

TEST_F(PortConfigTest, MissingFileLoadsNothingAndPrintsNothing) {
    CPortConfig config;
    config.m_pRecord->Number121 = 42;
    testing::internal::CaptureStdout();
    EXPECT_EQ(config.Load(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(std::int32_t{config.m_pRecord->Number121}, 42);
}

TEST_F(PortConfigTest, FileLengthDecides) {
    kavex::test::WritePortConfig(directory, 6, {1, 2, 3, 4});
    const std::string good = directory.ReadConfigBytes();
    ASSERT_EQ(good.size(), 10432u);

    directory.WriteConfigBytes(good.substr(0, 10431));
    {
        CPortConfig config;  // short: the defaults stay
        EXPECT_EQ(config.GetPrimaryPort(), 1);
        EXPECT_EQ(config.Load(), 0);
    }
    directory.WriteConfigBytes("");
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), 1);

    directory.WriteConfigBytes(good + std::string(100, '\x5A'));
    CPortConfig config;  // longer: the first 10432 bytes count
    EXPECT_EQ(config.Load(), 1);
    EXPECT_EQ(config.GetPrimaryPort(), 6);
    EXPECT_EQ(config.GetFurtherPort(4), 4);
}

TEST_F(PortConfigTest, AnyChangedByteFailsVerificationAndKeepsTheRecord) {
    kavex::test::WritePortConfig(directory, 6, {1, 2, 3, 4});
    const std::string good = directory.ReadConfigBytes();
    CPortConfig config;
    ASSERT_EQ(config.GetPrimaryPort(), 6);
    auto before = std::make_unique<PortConfigRecord>(*config.m_pRecord);
    std::vector<std::size_t> positions = {0, 116, 316, 333, 334, 10427, 10428, 10431};
    for (std::size_t position = 1; position < good.size(); position += 211) positions.push_back(position);
    for (std::size_t position : positions) {
        std::string bad = good;
        bad[position] = static_cast<char>(bad[position] ^ (1 << (position % 8)));
        directory.WriteConfigBytes(bad);
        EXPECT_EQ(config.Load(), 0) << "byte " << position;
        EXPECT_EQ(std::memcmp(config.m_pRecord, before.get(), sizeof *before), 0) << "byte " << position;
    }
}

TEST_F(PortConfigTest, ReservedBytesAreWrittenBackUnchanged) {
    auto record = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*record);
    for (std::size_t k = 0; k < sizeof record->Reserved; ++k) {
        record->Reserved[k] = static_cast<std::uint8_t>(k * 7 + 3);
    }
    kavex::test::WritePortConfigRecord(directory, *record);

    CPortConfig config;
    ASSERT_EQ(config.SetNumber308(-12345), 1);
    ASSERT_EQ(config.AddDailyCount(1), 1);
    auto stored = ReadBack(directory);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::memcmp(stored->Reserved, record->Reserved, sizeof record->Reserved), 0);
    EXPECT_EQ(stored->Number308, -12345);
}

TEST_F(PortConfigTest, ReadOnlyFileLoadsButRefusesSaves) {
    kavex::test::WritePortConfig(directory, 2, {0, 0, 0, 0});
    ASSERT_TRUE(SetFileAttributesA(directory.ConfigPath().c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string before = directory.ReadConfigBytes();
    if (!kavex::test::ReadOnlyAttributeIsEnforced(directory.Path())) {
        GTEST_SKIP() << "this system lets a read-only file be written (Wine running as root)";
    }

    CPortConfig config;
    EXPECT_EQ(config.GetPrimaryPort(), 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(config.SetNumber88(77), 0);
    EXPECT_EQ(config.Save(), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("denied"), std::string::npos) << printed;
    EXPECT_NE(printed.find("ipportconfig.ini"), std::string::npos) << printed;
    EXPECT_EQ(config.GetNumber88(), 77);  // kept in memory
    EXPECT_EQ(directory.ReadConfigBytes(), before);
}

TEST_F(PortConfigTest, TwoObjectsHoldTheirOwnRecords) {
    CPortConfig first;
    CPortConfig second;
    ASSERT_NE(first.m_pRecord, second.m_pRecord);
    ASSERT_EQ(first.SetPrimaryPort(5), 1);
    EXPECT_EQ(first.GetPrimaryPort(), 5);
    EXPECT_EQ(second.GetPrimaryPort(), 1);
    EXPECT_EQ(CPortConfig().GetPrimaryPort(), 5);
    EXPECT_EQ(second.Load(), 1);
    EXPECT_EQ(second.GetPrimaryPort(), 5);
}

TEST_F(PortConfigTest, SettersStoreTheLowBits) {
    CPortConfig config;
    EXPECT_EQ(config.SetShort332(65537), 1);
    EXPECT_EQ(config.m_pRecord->Short332, 1);
    EXPECT_EQ(config.SetShort332(0xFFFF), 1);
    EXPECT_EQ(config.m_pRecord->Short332, -1);
    EXPECT_EQ(config.SetPrimaryPort(258), 1);
    EXPECT_EQ(config.GetPrimaryPort(), 2);
    EXPECT_EQ(config.SetPrimaryPort(-1), 1);
    EXPECT_EQ(config.GetPrimaryPort(), 255);
    CPortConfig reloaded;
    EXPECT_EQ(reloaded.GetPrimaryPort(), 255);
    EXPECT_EQ(reloaded.m_pRecord->Short332, -1);
}

TEST_F(PortConfigTest, EveryNumberSetterSavesItsField) {
    CPortConfig config;
    config.SetNumber88(1);
    config.SetNumber92(2);
    config.SetNumber96(3);
    config.SetNumber100(4);
    config.SetNumber104(5);
    config.SetNumber108(6);
    config.SetNumber112(7);
    config.SetNumber117(8);
    config.SetNumber121(9);
    config.SetNumber308(10);
    config.SetNumber312(11);
    config.SetNumber320(12);
    CPortConfig reloaded;
    const PortConfigRecord& r = *reloaded.m_pRecord;
    EXPECT_EQ(r.Number88, 1);
    EXPECT_EQ(r.Number92, 2);
    EXPECT_EQ(r.Number96, 3);
    EXPECT_EQ(r.Number100, 4);
    EXPECT_EQ(r.Number104, 5);
    EXPECT_EQ(r.Number108, 6);
    EXPECT_EQ(r.Number112, 7);
    EXPECT_EQ(std::int32_t{r.Number117}, 8);
    EXPECT_EQ(std::int32_t{r.Number121}, 9);
    EXPECT_EQ(r.Number308, 10);
    EXPECT_EQ(r.Number312, 11);
    EXPECT_EQ(r.Number320, 12);
    EXPECT_EQ(reloaded.GetNumber96(), 3);
    EXPECT_EQ(reloaded.GetNumber100(), 4);
    EXPECT_EQ(reloaded.GetNumber104(), 5);
    EXPECT_EQ(reloaded.GetNumber108(), 6);
    EXPECT_EQ(reloaded.GetNumber112(), 7);
    EXPECT_EQ(reloaded.GetNumber121(), 9);
    EXPECT_EQ(reloaded.GetNumber308(), 10);
}

TEST_F(PortConfigTest, Byte187IsRepairedInMemoryOnly) {
    auto record = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*record);
    record->Byte187 = 21;
    kavex::test::WritePortConfigRecord(directory, *record);
    CPortConfig config;
    EXPECT_EQ(config.m_pRecord->Byte187, 21);
    EXPECT_EQ(config.GetByte187(), 2);
    EXPECT_EQ(ReadBack(directory)->Byte187, 21);  // the getter does not save
    ASSERT_EQ(config.Save(), 1);
    EXPECT_EQ(ReadBack(directory)->Byte187, 2);

    config.m_pRecord->Byte187 = 0;
    EXPECT_EQ(config.GetByte187(), 2);
    config.m_pRecord->Byte187 = 20;
    EXPECT_EQ(config.GetByte187(), 20);
    config.m_pRecord->Byte187 = 1;
    EXPECT_EQ(config.GetByte187(), 1);
}

class TextFieldTest : public PortConfigTest {
protected:
    // A buffer one byte longer than the widest field, zero-filled.
    char buffer[128] = {};
    CPortConfig config;
};

TEST_F(TextFieldTest, Text0KeepsSixteenCharactersWithoutATerminator) {
    EXPECT_EQ(config.SetText0("ABCDEFGHIJKLMNOPQRST"), 1);
    EXPECT_EQ(std::memcmp(config.m_pRecord->Text0, "ABCDEFGHIJKLMNOP", 16), 0);
    EXPECT_EQ(config.m_pRecord->Text16[0], '\0');  // the next field is untouched
    EXPECT_EQ(config.GetText0(buffer), 1);
    EXPECT_STREQ(buffer, "ABCDEFGHIJKLMNOP");
    // A shorter text clears what the longer one left.
    EXPECT_EQ(config.SetText0("xy"), 1);
    EXPECT_EQ(config.m_pRecord->Text0[2], '\0');
    EXPECT_EQ(config.m_pRecord->Text0[15], '\0');
}

TEST_F(TextFieldTest, EmptyFieldsLeaveTheBufferUntouched) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(config.GetText0(buffer), 0);
    EXPECT_EQ(config.GetText16(buffer), 0);
    EXPECT_EQ(config.GetText52(buffer), 0);
    EXPECT_EQ(config.GetText188(buffer), 0);
    EXPECT_EQ(config.GetText288(buffer), 0);
    for (char c : buffer) ASSERT_EQ(c, '#');
}

TEST_F(TextFieldTest, Text125AndText156AreGatedByText0) {
    const char* text31 = "0123456789012345678901234567890";
    EXPECT_EQ(config.SetText125(text31), 1);
    EXPECT_EQ(config.SetText156(text31), 1);
    EXPECT_EQ(std::memcmp(config.m_pRecord->Text125, text31, 31), 0);  // all 31
    EXPECT_EQ(std::memcmp(config.m_pRecord->Text156, text31, 30), 0);  // 30 and a NUL
    EXPECT_EQ(config.m_pRecord->Text156[30], '\0');
    EXPECT_EQ(config.m_pRecord->Byte187, 2);  // Text156 never spills

    EXPECT_EQ(config.GetText125(buffer), 0);
    EXPECT_EQ(config.GetText156(buffer), 0);
    ASSERT_EQ(config.SetText0("gate"), 1);
    EXPECT_EQ(config.GetText125(buffer), 1);
    EXPECT_EQ(std::string(buffer), text31);
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(config.GetText156(buffer), 1);
    EXPECT_EQ(std::string(buffer), std::string(text31, 30));
}

TEST_F(TextFieldTest, Text188KeepsItsLastByte) {
    config.m_pRecord->Text188[99] = 'Z';
    std::memset(config.m_pRecord->Text188 + 10, 'q', 20);
    EXPECT_EQ(config.SetText188("abc"), 1);
    EXPECT_STREQ(config.m_pRecord->Text188, "abc");
    for (int k = 3; k < 99; ++k) ASSERT_EQ(config.m_pRecord->Text188[k], '\0') << k;
    EXPECT_EQ(config.m_pRecord->Text188[99], 'Z');

    const std::string long120(120, 'L');
    EXPECT_EQ(config.SetText188(long120.c_str()), 1);
    EXPECT_EQ(config.m_pRecord->Text188[98], 'L');
    EXPECT_EQ(config.m_pRecord->Text188[99], 'Z');
    // A field full to its end reads back whole, terminated.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(config.GetText188(buffer), 1);
    EXPECT_EQ(std::string(buffer), std::string(99, 'L') + "Z");
    EXPECT_EQ(config.m_pRecord->Text288[0], '\0');
}

TEST_F(TextFieldTest, Text288AndTheWideTexts) {
    EXPECT_EQ(config.SetText288("abcdefghijklmnopqrstuvwxyz"), 1);
    EXPECT_EQ(config.m_pRecord->Text288[19], '\0');
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(config.GetText288(buffer), 1);
    EXPECT_STREQ(buffer, "abcdefghijklmnopqrs");

    const std::string text40(40, 'w');
    EXPECT_EQ(config.SetText16(text40.c_str()), 1);
    EXPECT_EQ(config.SetText52("\xD6\xD0\xCE\xC4"), 1);  // GBK text
    EXPECT_EQ(config.m_pRecord->Text52[0], '\xD6');
    char wide[64] = {};
    EXPECT_EQ(config.GetText16(wide), 1);
    EXPECT_EQ(std::string(wide), std::string(36, 'w'));
    CPortConfig reloaded;
    char gbk[64] = {};
    EXPECT_EQ(reloaded.GetText52(gbk), 1);
    EXPECT_STREQ(gbk, "\xD6\xD0\xCE\xC4");
}

TEST_F(TextFieldTest, NullArgumentsAreRefused) {
    EXPECT_EQ(config.SetText0(nullptr), 0);
    EXPECT_EQ(config.GetText0(nullptr), 0);
    EXPECT_EQ(config.GetConfigPath(nullptr), 0);
    EXPECT_FALSE(directory.ConfigExists());
}

TEST_F(PortConfigTest, GetConfigPathNamesTheFileBesideTheExecutable) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(CPortConfig().GetConfigPath(path), 0);  // not there yet
    EXPECT_EQ(std::string(path), directory.ConfigPath());
    kavex::test::WritePortConfig(directory, 1, {0, 0, 0, 0});
    char again[MAX_PATH] = {};
    EXPECT_EQ(CPortConfig().GetConfigPath(again), 1);
    EXPECT_EQ(std::string(again), directory.ConfigPath());
}

// An object whose record could not be allocated.
class RecordlessConfig : public CPortConfig {
public:
    RecordlessConfig() : CPortConfig(nullptr) {}
};

TEST_F(PortConfigTest, AnObjectWithoutARecordDoesNothing) {
    kavex::test::WritePortConfig(directory, 4, {1, 2, 3, 4});
    const std::string before = directory.ReadConfigBytes();
    RecordlessConfig config;
    char buffer[128] = {};
    EXPECT_EQ(config.m_pRecord, nullptr);
    EXPECT_EQ(config.Load(), 0);
    EXPECT_EQ(config.Save(), 0);
    // Without a record no further reader has a port, as with the defaults,
    // so GetOtherCardCode reads none of them and OpenCom opens none.
    for (int type = 1; type <= 4; ++type) EXPECT_EQ(config.GetFurtherPort(type), 0) << type;
    EXPECT_EQ(config.GetFurtherPort(0), -1);
    EXPECT_EQ(config.GetFurtherPort(5), -1);
    const ReaderPortPlan plan = PlanReaderPorts(config, nullptr);
    EXPECT_EQ(plan.primary, 1);
    for (auto use : plan.use) EXPECT_EQ(use, ReaderPortPlan::Further::kAbsent);
    EXPECT_EQ(config.GetPrimaryPort(), 0);
    EXPECT_EQ(config.GetByte187(), 0);
    EXPECT_EQ(config.GetText0(buffer), 0);
    EXPECT_EQ(config.SetText0("x"), 0);
    EXPECT_EQ(config.SetNumber88(1), 0);
    EXPECT_EQ(config.GetDailyCount(), 0);
    EXPECT_EQ(config.AddDailyCount(1), 0);
    EXPECT_EQ(config.ConfigFileExists(), 1);  // locating the file needs no record
    EXPECT_EQ(directory.ReadConfigBytes(), before);
}

}  // namespace
