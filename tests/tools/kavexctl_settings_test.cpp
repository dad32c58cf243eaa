// kavexctl settings, run as installers and support staff run it: the built
// executable in a child process, under a private KAVEX_PREFIX (its registry,
// and a shared view of its own).
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "settings/settings_report.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"
#include "support/settings_env.h"
#include "support/tool_run.h"

namespace fs = std::filesystem;
using kavex::test::ReadBytes;
using kavex::test::WriteBytes;

using kavex::test::ToolRun;

namespace {

class KavexctlSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        tool_ = kavex::test::BuiltKavexctl();
        if (tool_.empty()) GTEST_SKIP() << "kavexctl is not built";
        file_ = env.ScratchFile("qelversion.cfg");
    }

    // Runs kavexctl with `arguments` (stderr joins stdout).
    ToolRun Kavexctl(const std::string& arguments) const { return kavex::test::RunTool(tool_, arguments); }

    std::string OnFile() const { return " --file '" + file_ + "'"; }

    VersionConfigRecord InFile() const {
        VersionConfigRecord record{};
        EXPECT_TRUE(kavex::test::UnsealImage(ReadBytes(file_), &record)) << file_;
        return record;
    }

    kavex::test::SettingsEnvironment env;
    fs::path tool_;
    std::string file_;
};

bool Has(const ToolRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

TEST_F(KavexctlSettingsTest, PathFollowsTheRegistryElseTheExecutable) {
    ToolRun run = Kavexctl("settings path");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_EQ(run.out, (tool_.parent_path() / "qelversion.cfg").string() + "\nexecutable directory\n");

    env.SetExePath(env.Scratch());
    run = Kavexctl("settings path");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_EQ(run.out, file_ + "\nregistry ExePath\n");
    // Without --file every command works on that file.
    run = Kavexctl("settings init");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, file_ + " (a new file)")) << run.out;
    EXPECT_EQ(Kavexctl("settings path").exitCode, 0);
    EXPECT_EQ(Kavexctl("settings set VersionNumber=31").exitCode, 0);
    EXPECT_EQ(+InFile().VersionNumber, 31);
    run = Kavexctl("settings show");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out.rfind("VersionNumber  31\nQuorelinkEdition  0\n", 0), 0u) << run.out;
}

TEST_F(KavexctlSettingsTest, ShowPrintsTheSharedRecordAndExplainsABadFile) {
    ToolRun run = Kavexctl("settings show" + OnFile());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Has(run, "no such file")) << run.out;
    EXPECT_FALSE(kavex::test::FileExists(file_));

    WriteBytes(file_, std::string(100, 'x'));
    run = Kavexctl("settings show" + OnFile());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Has(run, "100 bytes long")) << run.out;
    EXPECT_EQ(ReadBytes(file_), std::string(100, 'x'));

    VersionConfigRecord record;
    kavex::settings::WriteDefaults(record);
    std::strcpy(record.Remark, "\xCD\xF8\xB0\xC9");  // 网吧 in GBK
    record.Byte450 = 45;
    std::string image = kavex::test::SealedImage(record);
    image[1000] = static_cast<char>(image[1000] ^ 0x20);
    WriteBytes(file_, image);
    run = Kavexctl("settings show" + OnFile());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Has(run, "CRC-32 does not match")) << run.out;
    EXPECT_EQ(ReadBytes(file_), image);

    WriteBytes(file_, kavex::test::SealedImage(record));
    run = Kavexctl("settings show" + OnFile());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    // One line per field, "Name  value", texts as they are in UTF-8.
    EXPECT_TRUE(Has(run, "\nRemark  网吧\n")) << run.out;
    EXPECT_TRUE(Has(run, "\nRegion  \n")) << run.out;
    EXPECT_TRUE(Has(run, "\nIpPort  8998\n")) << run.out;  // filled in, though the file holds 0
    EXPECT_TRUE(Has(run, "\nIpAddress  192.168.0.250\n")) << run.out;
    EXPECT_TRUE(Has(run, "\nByte449  0\nByte450  45\n")) << run.out;
    std::size_t lines = 0;
    for (const char c : run.out) lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, kavex::settings::VersionFieldCount()) << run.out;
    EXPECT_EQ(+InFile().IpPort, 0);  // show saves nothing

    run = Kavexctl("settings show --json" + OnFile());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out.rfind("{\n  \"VersionNumber\": 29,\n  \"QuorelinkEdition\": 0,\n", 0), 0u) << run.out;
    EXPECT_TRUE(Has(run, "\n  \"Byte449\": 0,\n  \"Byte450\": 45,\n")) << run.out;
    EXPECT_TRUE(Has(run, "\n  \"Remark\": \"网吧\",\n")) << run.out;
    EXPECT_TRUE(Has(run, "\n  \"IdTypes\": [\"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\"],\n"));
    EXPECT_TRUE(Has(run, "\n  \"IpAddress\": \"192.168.0.250\",\n"));
    EXPECT_TRUE(Has(run, "\n  \"Block617\": \"" + std::string(38, '0') + "\",\n"));
    EXPECT_TRUE(Has(run, "\n  \"Checksum\": " + std::to_string(InFile().Checksum) + "\n}\n")) << run.out;
    EXPECT_FALSE(Has(run, "Reserved"));
    std::size_t keys = 0;
    for (std::size_t at = run.out.find("\n  \""); at != std::string::npos;
         at = run.out.find("\n  \"", at + 1))
        ++keys;
    EXPECT_EQ(keys, kavex::settings::VersionFieldCount());
}

TEST_F(KavexctlSettingsTest, ShowRewritesTheOlderForm) {
    VersionConfigRecord record;
    kavex::settings::WriteDefaults(record);
    record.VersionNumber = 12;
    WriteBytes(file_, kavex::test::OldFormImage(record));
    const ToolRun run = Kavexctl("settings show" + OnFile());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "older 482-byte form; it has been rewritten in the current form")) << run.out;
    EXPECT_TRUE(Has(run, "\nVersionNumber  12\n")) << run.out;
    EXPECT_EQ(ReadBytes(file_).size(), 2540u);
    EXPECT_EQ(+InFile().VersionNumber, 12);
}

TEST_F(KavexctlSettingsTest, SetStoresEveryKindOfFieldAndSavesTheWholeRecord) {
    ASSERT_EQ(Kavexctl("settings init" + OnFile()).exitCode, 0);
    const ToolRun run =
        Kavexctl("settings set" + OnFile() +
                 " Remark=网吧 Number510=-5 CityCode=65535 IpAddress=10.1.2.3 IdTypes=身份证,AB "
                 "'Time885=2008-08-19 ab:cd:ef' Time889=1219112430 Block723=00112233445566778899 "
                 "Byte449=7 VersionByte=0");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const VersionConfigRecord file = InFile();
    EXPECT_STREQ(file.Remark, "\xCD\xF8\xB0\xC9");
    EXPECT_EQ(+file.Number510, -5);
    EXPECT_EQ(+file.CityCode, 65535);
    const auto* ip = reinterpret_cast<const unsigned char*>(&file.IpAddress);
    EXPECT_EQ(ip[0], 10);
    EXPECT_EQ(ip[3], 3);
    EXPECT_STREQ(file.IdTypes[0], "\xC9\xED\xB7\xDD\xD6\xA4");
    EXPECT_STREQ(file.IdTypes[1], "AB");
    EXPECT_EQ(+file.IdTypeCount, 2);
    EXPECT_EQ(+file.Time885, ParseDateTime("2008-08-19"));
    EXPECT_EQ(+file.Time889, 1219112430u);
    EXPECT_EQ(+file.Block723[9], 0x99);
    EXPECT_EQ(+file.Byte449, 7);
    EXPECT_EQ(+file.VersionByte, 0);
    EXPECT_EQ(+file.IpPort, 8998);  // the fill-ins of the shared record are saved with it
    EXPECT_EQ(run.out.rfind("Remark  网吧\nNumber510  -5\n", 0), 0u) << run.out;  // what was set
}

TEST_F(KavexctlSettingsTest, RefusedArgumentsLeaveTheFileUntouched) {
    ASSERT_EQ(Kavexctl("settings init" + OnFile()).exitCode, 0);
    const std::string before = ReadBytes(file_);
    const std::string refused[] = {"Byte449=256",
                                   "Number510=12x",
                                   "VersionNumber=2147483648",
                                   "Short502=-1",
                                   "IpAddress=1.2.3",
                                   "IpAddress=1.2.3.256",
                                   "Remark=" + std::string(101, 'r'),
                                   "Region=" + std::string(7, 'x') + "网吧网吧网吧网吧",
                                   "Block518=00",
                                   "Block723=0011223344556677889g",
                                   "IdTypes=a,b,c,d,e,f,g,h,i,j,k",
                                   "IdTypes=123456789",
                                   "Time885=2008-13-01",
                                   "Time889=4294967296",
                                   "Checksum=1",
                                   "Nonsense=1",
                                   "Remark=x Bad=1"};
    for (const std::string& assignment : refused) {
        const ToolRun run = Kavexctl("settings set" + OnFile() + " " + assignment);
        EXPECT_EQ(run.exitCode, 2) << assignment << ": " << run.out;
        // The message names the refused field (the last one given).
        const std::size_t space = assignment.rfind(' ');
        const std::string last = assignment.substr(space == std::string::npos ? 0 : space + 1);
        EXPECT_TRUE(Has(run, last.substr(0, last.find('=')))) << run.out;
        EXPECT_TRUE(ReadBytes(file_) == before) << assignment;
    }
    EXPECT_EQ(Kavexctl("settings set" + OnFile()).exitCode, 2);
    EXPECT_EQ(Kavexctl("settings show --bogus").exitCode, 2);
    EXPECT_EQ(Kavexctl("settings frobnicate").exitCode, 2);
    EXPECT_EQ(Kavexctl("settings set --file '" + env.ScratchFile("missing.cfg") + "' Byte449=1").exitCode, 1);
    EXPECT_FALSE(kavex::test::FileExists(env.ScratchFile("missing.cfg")));
}

// A path the library would refuse is refused before anything is touched:
// the library would otherwise save to the file it locates instead.
TEST_F(KavexctlSettingsTest, AFilePathTooLongForTheLibraryIsRefused) {
    env.SetExePath(env.Scratch());  // the located file is file_
    VersionConfigRecord record;
    kavex::settings::WriteDefaults(record);
    record.Number510 = 77;
    const std::string located = kavex::test::SealedImage(record);
    WriteBytes(file_, located);
    for (const std::string& tooLong : {std::string(1024, 'p'), env.ScratchFile(std::string(1100, 'p'))}) {
        for (const char* command : {"init", "show", "set Number510=5", "report"}) {
            const std::string arguments = std::string("settings ") + command + " --file '" + tooLong + "'";
            const ToolRun run = Kavexctl(arguments);
            EXPECT_EQ(run.exitCode, 2) << command << ": " << run.out;
            EXPECT_TRUE(Has(run, "--file")) << run.out;
            EXPECT_TRUE(Has(run, "1024")) << run.out;
            EXPECT_TRUE(ReadBytes(file_) == located) << command;
        }
    }
    // 1023 characters are the library's to judge (here: no such file).
    EXPECT_EQ(Kavexctl("settings show --file '" + std::string(1023, 'p') + "'").exitCode, 1);
}

TEST_F(KavexctlSettingsTest, InitWritesTheDefaultsBeforeTheirFillIns) {
    WriteBytes(file_, std::string(2539, 'x'));
    ToolRun run = Kavexctl("settings init" + OnFile());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "replacing an invalid file")) << run.out;
    VersionConfigRecord expected;
    kavex::settings::WriteDefaults(expected);
    VersionConfigRecord file = InFile();
    expected.Checksum = file.Checksum;
    EXPECT_EQ(std::memcmp(&file, &expected, sizeof file), 0);

    ASSERT_EQ(Kavexctl("settings set" + OnFile() + " Number510=5").exitCode, 0);
    run = Kavexctl("settings init" + OnFile());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "replacing its settings")) << run.out;
    EXPECT_EQ(+InFile().Number510, 0);
    EXPECT_EQ(+InFile().IpPort, 0);

    run = Kavexctl("settings init --file '" + env.ScratchFile("no/such/dir/q.cfg") + "'");
    EXPECT_EQ(run.exitCode, 1) << run.out;
}

TEST_F(KavexctlSettingsTest, ReportWritesTheLibrarysReportOrPrintsItInUtf8) {
    ASSERT_EQ(Kavexctl("settings init" + OnFile()).exitCode, 0);
    ASSERT_EQ(Kavexctl("settings set" + OnFile() + " CafeSystems=3 Remark=网吧").exitCode, 0);
    const std::string out = env.ScratchFile("report.txt");
    WriteBytes(out, std::string(5000, '#'));
    ToolRun run = Kavexctl("settings report" + OnFile() + " --out '" + out + "'");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::string report = ReadBytes(out);
    std::string expected;
    for (const std::string& line : kavex::settings::SettingsReportLines(InFile())) expected += line;
    ASSERT_GT(report.size(), expected.size());
    EXPECT_EQ(report.substr(0, expected.size()), expected);
    EXPECT_EQ(report.find("\r\n", expected.size()), report.size() - 2);  // then the time line alone

    run = Kavexctl("settings report" + OnFile());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out.rfind("功能项" + std::string(30, ' ') + "所设置值\n", 0), 0u) << run.out;
    EXPECT_TRUE(Has(run, "\n备注" + std::string(32, ' ') + "网吧\n")) << run.out;
    EXPECT_TRUE(Has(run, "\n可使用的网吧管理系统" + std::string(13, ' ') + "万象2004  万象妙管家  \n"))
        << run.out;
    EXPECT_TRUE(Has(run, "\n设置时间：")) << run.out;
    EXPECT_FALSE(Has(run, "\r"));

    EXPECT_EQ(Kavexctl("settings report --file '" + env.ScratchFile("missing.cfg") + "'").exitCode, 1);
    EXPECT_EQ(Kavexctl("settings report" + OnFile() + " --out '" + env.Scratch() + "'").exitCode, 1);
    EXPECT_EQ(Kavexctl("settings report" + OnFile() + " --out").exitCode, 2);
}

}  // namespace
#endif
