// The field table against the record: every byte accounted for once, every
// SetAll position and report line once, and the defaults of a fresh view.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "settings/version_fields.h"

using kavex::settings::FieldType;
using kavex::settings::VersionField;
using kavex::settings::VersionFieldCount;
using kavex::settings::VersionFields;

namespace {

std::vector<VersionField> Fields() { return {VersionFields(), VersionFields() + VersionFieldCount()}; }

TEST(VersionFieldsTest, FieldsAndReservedBytesCoverTheRecordOnceInOrder) {
    // The reserved ranges no field names.
    const std::map<std::size_t, std::size_t> reserved = {{405, 1}, {881, 3}, {908, 1}, {931, 1605}};
    std::size_t next = 0;
    std::set<std::string> names;
    for (const VersionField& field : Fields()) {
        while (reserved.count(next) != 0) next += reserved.at(next);
        EXPECT_EQ(field.offset, next) << field.name;
        EXPECT_GT(field.width, 0u) << field.name;
        next = field.offset + field.width;
        EXPECT_TRUE(names.insert(field.name).second) << "twice: " << field.name;
        // A name that ends in digits names the field's offset.
        std::string digits;
        for (const char* p = field.name; *p != '\0'; ++p) {
            digits = std::isdigit(static_cast<unsigned char>(*p)) ? digits + *p : std::string();
        }
        if (!digits.empty() && std::strcmp(field.name, "RequireNet110") != 0) {
            EXPECT_EQ(std::stoul(digits), field.offset) << field.name;
        }
    }
    EXPECT_EQ(next, sizeof(VersionConfigRecord));
    EXPECT_EQ(std::string(Fields().back().name), "Checksum");
}

TEST(VersionFieldsTest, EverySetAllPositionAndReportLineBelongsToOneField) {
    std::map<int, std::string> positions;
    std::map<int, std::string> lines;
    for (const VersionField& field : Fields()) {
        if (field.setAllPosition != 0) {
            EXPECT_TRUE(positions.emplace(field.setAllPosition, field.name).second)
                << "position " << field.setAllPosition << " twice";
            EXPECT_STREQ(kavex::settings::FieldAtSetAllPosition(field.setAllPosition)->name, field.name);
        }
        for (const auto* row : {&field.report, &field.secondReport}) {
            if (row->line == 0) continue;  // no row
            EXPECT_TRUE(lines.emplace(row->line, field.name).second) << "line " << row->line << " twice";
            EXPECT_NE(row->label, nullptr);
            // The values start in byte column 36 on every row but these.
            const int column = static_cast<int>(std::strlen(row->label)) + row->spaces;
            const std::map<int, int> offColumn = {{35, 33}, {39, 40}, {44, 68}, {45, 38}, {46, 38}, {47, 38}};
            EXPECT_EQ(column, offColumn.count(row->line) ? offColumn.at(row->line) : 36)
                << "line " << row->line;
        }
    }
    EXPECT_EQ(positions.size(), 171u);
    EXPECT_EQ(positions.begin()->first, 1);
    EXPECT_EQ(positions.rbegin()->first, 171);
    // Lines 1, 38 and 48 are headings and the time; every other one is a field's.
    for (int line = 2; line <= 47; ++line) {
        if (line == 38) continue;
        EXPECT_EQ(lines.count(line), 1u) << "line " << line;
    }
    EXPECT_EQ(lines.size(), 45u);
    EXPECT_EQ(lines.at(29), "FastChannel");
    EXPECT_EQ(lines.at(30), "FastChannel");
}

TEST(VersionFieldsTest, DefaultsAreThoseOfAFreshView) {
    VersionConfigRecord record;
    std::memset(&record, 0x5A, sizeof record);
    kavex::settings::WriteDefaults(record);
    VersionConfigRecord expected{};
    expected.VersionNumber = 29;
    expected.CheckName = 1;
    expected.CheckIdValidity = 1;
    expected.InitFlag = 1;
    expected.MaxCentreFailures = 30;
    expected.MachineReportInterval = 900;
    expected.AutoUpgrade = 1;
    expected.Number747 = 3;
    expected.Byte752 = 1;
    const std::string url = record.RemoteIpFilePath;
    ASSERT_GE(url.size(), 30u);
    EXPECT_LE(url.size(), 100u);
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 23), "/zoru/shencityipcfg.cfg");
    std::memcpy(expected.RemoteIpFilePath, url.data(), url.size());
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);

    kavex::settings::FillInUnsetValues(record);
    EXPECT_EQ(+record.VersionByte, 29);
    EXPECT_EQ(+record.IpPort, 8998);
    const auto* ip = reinterpret_cast<const unsigned char*>(&record.IpAddress);
    EXPECT_EQ(std::vector<int>(ip, ip + 4), (std::vector<int>{192, 168, 0, 250}));
    record.IpPort = 21;
    record.VersionByte = 7;
    kavex::settings::FillInUnsetValues(record);
    EXPECT_EQ(+record.IpPort, 21);
    EXPECT_EQ(+record.VersionByte, 7);
}

TEST(VersionFieldsTest, IntegersAreLittleEndianAndKeepTheirLowBits) {
    VersionConfigRecord record{};
    const VersionField* number = kavex::settings::FindVersionField("Number510");
    const VersionField* shortField = kavex::settings::FindVersionField("Short502");
    const VersionField* byte = kavex::settings::FindVersionField("Byte501");
    ASSERT_TRUE(number && shortField && byte);
    kavex::settings::WriteInteger(record, *number, 0xFFFFFFFEu);
    kavex::settings::WriteInteger(record, *shortField, 0x12345678u);
    kavex::settings::WriteInteger(record, *byte, 0x1FFu);
    EXPECT_EQ(kavex::settings::ReadInteger(record, *number), -2);
    EXPECT_EQ(kavex::settings::ReadInteger(record, *shortField), 0x5678);
    EXPECT_EQ(kavex::settings::ReadInteger(record, *byte), 0xFF);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    EXPECT_EQ(bytes[502], 0x78);
    EXPECT_EQ(bytes[503], 0x56);
    EXPECT_EQ(bytes[500], 0);  // Byte500, beside Byte501, untouched
    EXPECT_EQ(kavex::settings::FindVersionField("Nonsense"), nullptr);
    EXPECT_EQ(kavex::settings::FindVersionField(nullptr), nullptr);
}

}  // namespace
