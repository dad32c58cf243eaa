// CVersionConfig in one process: the view's set-up, the settings file's
// location, load and save (both forms, every length, the registry, a
// read-only file, one-step replacement) and the record's setters.
//
// Every test runs in a process of its own (CTest), so each starts with a
// view that is not set up yet.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/sealed_file.h"
#include "settings/set_all_arguments.h"
#include "settings/shared_view.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"
#include "support/settings_env.h"

#ifndef _WIN32
#include "platform/posix/fault_injection.h"
#endif

using kavex::test::FileExists;
using kavex::test::ReadBytes;
using kavex::test::SealedImage;
using kavex::test::SettingsEnvironment;
using kavex::test::UnsealImage;
using kavex::test::WriteBytes;

namespace {

VersionConfigRecord Defaults() {
    VersionConfigRecord record;
    kavex::settings::WriteDefaults(record);
    return record;
}

VersionConfigRecord Shared() {
    VersionConfigRecord record{};
    const VersionConfigView* view = kavex::settings::SharedView();
    if (view != nullptr) record = view->record;
    return record;
}

bool Same(const VersionConfigRecord& a, const VersionConfigRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The record a settings file holds; a zeroed record when it does not verify.
VersionConfigRecord InFile(const std::string& path) {
    VersionConfigRecord record{};
    if (!UnsealImage(ReadBytes(path), &record)) ADD_FAILURE() << path << " does not hold a verified record";
    return record;
}

class VersionConfigTest : public ::testing::Test {
protected:
    SettingsEnvironment env;
};

TEST_F(VersionConfigTest, AFirstSetUpCreatesTheFileWithTheDefaultsAndFillsInTheView) {
    CVersionConfig config(nullptr, TRUE);
    ASSERT_NE(config.m_hMutex, nullptr);
    ASSERT_TRUE(FileExists(env.LocatedFile()));
    EXPECT_EQ(ReadBytes(env.LocatedFile()).size(), 2540u);
    // The file holds the defaults: the fill-ins are not saved.
    VersionConfigRecord file = InFile(env.LocatedFile());
    EXPECT_EQ(+file.VersionByte, 0);
    EXPECT_EQ(+file.IpPort, 0);
    EXPECT_EQ(+file.IpAddress, 0u);
    VersionConfigRecord expected = Defaults();
    expected.Checksum = file.Checksum;
    EXPECT_TRUE(Same(file, expected));
    // The shared record shows them.
    const VersionConfigRecord shared = Shared();
    EXPECT_EQ(+shared.VersionNumber, 29);
    EXPECT_EQ(+shared.VersionByte, 29);
    EXPECT_EQ(+shared.IpPort, 8998);
    const auto* ip = reinterpret_cast<const unsigned char*>(&shared.IpAddress);
    EXPECT_EQ(std::vector<int>(ip, ip + 4), (std::vector<int>{192, 168, 0, 250}));
    EXPECT_EQ(+shared.Checksum, +file.Checksum);  // the save updated the shared record's trailer
    EXPECT_STREQ(PeekConfigPath(), env.LocatedFile().c_str());
    char path[1024] = {};
    EXPECT_TRUE(config.GetConfigPath(path));
    EXPECT_EQ(path, env.LocatedFile());
    EXPECT_TRUE(config.ConfigFileExists());
}

TEST_F(VersionConfigTest, WithoutCreateIfMissingNothingIsWritten) {
    EXPECT_EQ(PeekOptionCode(), 0);  // no view yet
    EXPECT_STREQ(PeekOptionText(), "");
    EXPECT_STREQ(PeekConfigPath(), "");
    CVersionConfig config(nullptr, FALSE);
    EXPECT_FALSE(FileExists(env.LocatedFile()));
    EXPECT_STREQ(PeekConfigPath(), "");  // a failed Load(null) leaves the path slot as it was
    VersionConfigRecord expected = Defaults();
    kavex::settings::FillInUnsetValues(expected);
    EXPECT_TRUE(Same(Shared(), expected));
    EXPECT_FALSE(config.ConfigFileExists());
    EXPECT_FALSE(config.Load(nullptr));
    // Save(null) with an empty path slot creates the file beside the executable.
    EXPECT_TRUE(config.Save(nullptr));
    EXPECT_TRUE(FileExists(env.LocatedFile()));
}

TEST_F(VersionConfigTest, AnInvalidFileIsReplacedByTheDefaultsWhenAsked) {
    WriteBytes(env.LocatedFile(), std::string(2539, 'x'));
    CVersionConfig config(nullptr, TRUE);
    VersionConfigRecord expected = Defaults();
    VersionConfigRecord file = InFile(env.LocatedFile());
    expected.Checksum = file.Checksum;
    EXPECT_TRUE(Same(file, expected));
}

TEST_F(VersionConfigTest, SaveThenLoadGivesBackEveryByte) {
    const std::string path = env.ScratchFile("round.cfg");
    CVersionConfig config(path.c_str(), FALSE);
    VersionConfigRecord record = Defaults();
    for (std::size_t k = 0; k < 2536; ++k)
        reinterpret_cast<unsigned char*>(&record)[k] = static_cast<unsigned char>(k * 7);
    ASSERT_TRUE(config.SetRecord(&record));
    const VersionConfigRecord saved = Shared();
    EXPECT_EQ(ReadBytes(path).size(), 2540u);
    EXPECT_TRUE(Same(InFile(path), saved));  // the trailer in the shared record is the file's

    // Saving elsewhere moves the path slot, and the setters follow it.
    ASSERT_TRUE(config.Save(env.ScratchFile("other.cfg").c_str()));
    EXPECT_STREQ(PeekConfigPath(), env.ScratchFile("other.cfg").c_str());
    VersionConfigRecord other = Defaults();
    ASSERT_TRUE(config.SetRecord(&other));
    EXPECT_EQ(+InFile(env.ScratchFile("other.cfg")).Number510, 0);
    EXPECT_TRUE(Same(InFile(path), saved));
    ASSERT_TRUE(config.Load(path.c_str()));
    EXPECT_TRUE(Same(Shared(), saved));
    EXPECT_STREQ(PeekConfigPath(), path.c_str());
    VersionConfigRecord copy{};
    EXPECT_TRUE(config.GetRecord(&copy));
    EXPECT_TRUE(Same(copy, saved));
    EXPECT_FALSE(config.GetRecord(nullptr));
    EXPECT_FALSE(config.SetRecord(nullptr));
}

TEST_F(VersionConfigTest, TheOlderFormIsTakenOverTheRecordAndRewritten) {
    const std::string path = env.ScratchFile("old.cfg");
    CVersionConfig config(path.c_str(), FALSE);
    VersionConfigRecord before = Shared();
    std::memset(reinterpret_cast<char*>(&before) + 478, 0x33, 2536 - 478);  // bytes the old form cannot reach
    ASSERT_TRUE(config.SetRecord(&before));

    VersionConfigRecord old = Defaults();
    old.VersionNumber = 17;
    std::strcpy(old.Region, "OLD");
    std::memset(reinterpret_cast<char*>(&old) + 478, 0x44, 2540 - 478);
    WriteBytes(path, kavex::test::OldFormImage(old));
    ASSERT_TRUE(config.Load(path.c_str()));
    const VersionConfigRecord after = Shared();
    EXPECT_EQ(std::memcmp(&after, &old, 478), 0);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(&after) + 478,
                          reinterpret_cast<const char*>(&before) + 478, 2536 - 478),
              0);
    // Rewritten in the current form, holding the record as it now is.
    EXPECT_EQ(ReadBytes(path).size(), 2540u);
    EXPECT_TRUE(Same(InFile(path), after));
}

TEST_F(VersionConfigTest, OnlyTheTwoFormsVerifyAndAFailedLoadChangesNothing) {
    const std::string path = env.ScratchFile("forms.cfg");
    CVersionConfig config(path.c_str(), FALSE);
    const VersionConfigRecord before = Shared();
    VersionConfigRecord record = Defaults();
    record.Number510 = 510;
    const std::string image = SealedImage(record);
    const std::string old = kavex::test::OldFormImage(record);
    for (const std::string& bad : {old.substr(0, 481), old + "x", image.substr(0, 2539), std::string()}) {
        WriteBytes(path, bad);
        EXPECT_FALSE(config.Load(path.c_str())) << bad.size() << " bytes";
        EXPECT_TRUE(Same(Shared(), before)) << bad.size() << " bytes";
        EXPECT_EQ(ReadBytes(path), bad);  // a failed load writes nothing
    }
    for (std::size_t at : {std::size_t{0}, std::size_t{510}, std::size_t{2535}, std::size_t{2539}}) {
        std::string changed = image;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        WriteBytes(path, changed);
        EXPECT_FALSE(config.Load(path.c_str())) << "byte " << at;
        EXPECT_TRUE(Same(Shared(), before));
    }
    // A longer file is judged by its first 2540 bytes.
    WriteBytes(path, image + "trailing bytes");
    EXPECT_TRUE(config.Load(path.c_str()));
    EXPECT_EQ(+Shared().Number510, 510);
    EXPECT_FALSE(config.Load(env.ScratchFile("missing.cfg").c_str()));
    EXPECT_STREQ(PeekConfigPath(), env.ScratchFile("missing.cfg").c_str());  // named before the open failed
}

TEST_F(VersionConfigTest, TheRegistryNamesTheSettingsDirectory) {
    VersionConfigRecord beside = Defaults();
    beside.Number510 = 1;
    WriteBytes(env.LocatedFile(), SealedImage(beside));
    const std::string registered = env.Scratch();
    env.SetExePath(registered);
    const std::string registeredFile = env.ScratchFile("qelversion.cfg");

    CVersionConfig config(nullptr, FALSE);
    // The registry's directory only, although the executable's holds a file.
    EXPECT_FALSE(config.ConfigFileExists());
    EXPECT_NE(+Shared().Number510, 1);
    char path[1024] = {};
    EXPECT_FALSE(config.GetConfigPath(path));
    EXPECT_EQ(std::string(path), registeredFile);

    VersionConfigRecord there = Defaults();
    there.Number510 = 2;
    WriteBytes(registeredFile, SealedImage(there));
    EXPECT_TRUE(config.Load(nullptr));
    EXPECT_EQ(+Shared().Number510, 2);

    // A value of 1024 bytes or more is no directory: the executable's is used.
    env.SetExePath(std::string(1023, 'd'));
    std::memset(path, 0, sizeof path);
    EXPECT_TRUE(config.GetConfigPath(path));
    EXPECT_EQ(std::string(path), env.LocatedFile());
    // One that leaves no room for the file's name gives no path at all.
    env.SetExePath(std::string(1010, 'd'));
    std::memset(path, 0, sizeof path);
    EXPECT_FALSE(config.GetConfigPath(path));
    EXPECT_EQ(path[0], '\0');
}

#ifndef _WIN32
TEST_F(VersionConfigTest, ARegistryPathOnDriveCIsFoundInThePrefix) {
    env.SetExePath("C:\\Program Files\\Veridane");
    CVersionConfig config(nullptr, TRUE);
    EXPECT_STREQ(PeekConfigPath(), "C:\\Program Files\\Veridane\\qelversion.cfg");
    EXPECT_FALSE(
        FileExists(env.Scratch() + "/drive_c/Program Files/Veridane/qelversion.cfg"));  // no such directory
    std::filesystem::create_directories(env.Scratch() + "/drive_c/Program Files/Veridane");
    EXPECT_TRUE(config.Save(nullptr));
    EXPECT_TRUE(FileExists(env.Scratch() + "/drive_c/Program Files/Veridane/qelversion.cfg"));
    EXPECT_TRUE(config.ConfigFileExists());
}
#endif

TEST_F(VersionConfigTest, AReadOnlyFileIsRewritten) {
    const std::string path = env.ScratchFile("readonly.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(config.Load(path.c_str()));
    EXPECT_TRUE(config.SetNumber743(743));
    EXPECT_EQ(+InFile(path).Number743, 743);
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(VersionConfigTest, AFailedSaveLeavesThePreviousFileWhole) {
    const std::string path = env.ScratchFile("whole.cfg");
    CVersionConfig config(path.c_str(), TRUE);
#ifndef _WIN32
    // The POSIX layer's switch makes every write fail, as a full disk does.
    const std::string before = ReadBytes(path);
    kavex::posix::faults::FileFaultPlan plan;
    plan.failAt = 1;
    plan.persistent = true;
    plan.operations = kavex::posix::faults::Mask(kavex::posix::faults::FileOperation::kWrite);
    kavex::posix::faults::ArmFileFaults(plan);
    EXPECT_FALSE(config.SetNumber757(757));
    EXPECT_EQ(ReadBytes(path), before);
#endif

    // The older form too: its conversion fails, the old file stays whole
    // (where the writes can be made to fail).
    VersionConfigRecord old = Defaults();
    old.VersionNumber = 12;
    const std::string oldImage = kavex::test::OldFormImage(old);
    WriteBytes(path, oldImage);
    EXPECT_TRUE(config.Load(path.c_str()));
    EXPECT_EQ(+Shared().VersionNumber, 12);
#ifndef _WIN32
    EXPECT_EQ(ReadBytes(path), oldImage);
    kavex::posix::faults::DisarmFileFaults();
#endif

    // What an interrupted save leaves behind goes with the next save.
    const std::string leftover = env.ScratchFile("~vc1A2B.tmp");
    WriteBytes(leftover, "half a record");
    const std::string unrelated = env.ScratchFile("~kv1A2B.tmp");
    WriteBytes(unrelated, "another file's");
    EXPECT_TRUE(config.Save(path.c_str()));
    EXPECT_FALSE(FileExists(leftover));
    EXPECT_TRUE(FileExists(unrelated));
    EXPECT_EQ(+InFile(path).VersionNumber, 12);
}

TEST_F(VersionConfigTest, PathsOfTheSlotsSizeOrMoreAreRefused) {
    const std::string path = env.ScratchFile("slot.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    const std::string tooLong(1024, 'p');
    EXPECT_FALSE(config.Load(tooLong.c_str()));
    EXPECT_FALSE(config.Save(tooLong.c_str()));
    EXPECT_STREQ(PeekConfigPath(), path.c_str());
}

TEST_F(VersionConfigTest, SetIdTypeFillsOnlyValidEntries) {
    const std::string path = env.ScratchFile("types.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    VersionConfigRecord record = Shared();
    record.IdTypeCount = 2;
    std::memset(record.IdTypes, 'z', sizeof record.IdTypes);
    ASSERT_TRUE(config.SetRecord(&record));
    const std::string before = ReadBytes(path);
    EXPECT_FALSE(config.SetIdType(10, "x"));
    EXPECT_FALSE(config.SetIdType(0, nullptr));
    EXPECT_FALSE(config.SetIdType(2, "x"));
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_TRUE(config.SetIdType(1, "ABCDEFGHIJ"));
    const VersionConfigRecord after = InFile(path);
    EXPECT_EQ(std::string(after.IdTypes[1], 10), std::string("ABCDEFGH\0\0", 10));
    EXPECT_EQ(std::string(after.IdTypes[0], 10), std::string(10, 'z'));
    EXPECT_EQ(std::string(after.IdTypes[2], 10), std::string(10, 'z'));
    record = Shared();
    record.IdTypeCount = -1;
    ASSERT_TRUE(config.SetRecord(&record));
    EXPECT_FALSE(config.SetIdType(0, "x"));
}

TEST_F(VersionConfigTest, SingleFieldSettersSaveTheWholeRecord) {
    const std::string path = env.ScratchFile("single.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    EXPECT_TRUE(config.SetByte736(5));
    EXPECT_EQ(InFile(path).Byte736, 0);
    EXPECT_TRUE(config.SetByte736(0));
    EXPECT_EQ(InFile(path).Byte736, 1);
    EXPECT_TRUE(config.SetByte454(0x54));
    EXPECT_TRUE(config.SetNumber743(-743));
    EXPECT_TRUE(config.SetNumber757(757));
    const VersionConfigRecord file = InFile(path);
    EXPECT_EQ(+file.Byte454, 0x54);
    EXPECT_EQ(+file.Number743, -743);
    EXPECT_EQ(+file.Number757, 757);
    // Fill-ins are part of the whole record and are saved with it.
    EXPECT_EQ(+file.IpPort, 8998);
}

TEST_F(VersionConfigTest, NamedFileOperationsLoadThatFileFirst) {
    const std::string path = env.ScratchFile("named.cfg");
    const std::string missing = env.ScratchFile("missing.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    EXPECT_TRUE(config.SetVersionNumber(path.c_str(), 300));
    VersionConfigRecord file = InFile(path);
    EXPECT_EQ(+file.VersionNumber, 300);
    EXPECT_EQ(+file.VersionByte, 44);
    EXPECT_FALSE(config.SetVersionNumber(missing.c_str(), 5));
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ(+Shared().VersionNumber, 300);

    EXPECT_TRUE(config.SetQuorelinkEdition(path.c_str(), 1));
    EXPECT_TRUE(config.SetBroadband(path.c_str(), 7));
    EXPECT_TRUE(config.SetCafeSystem(path.c_str(), 0x1234));
    EXPECT_TRUE(config.SetByte451(path.c_str(), 0x51));
    EXPECT_TRUE(config.SetByte500(path.c_str(), 0x50));
    EXPECT_TRUE(config.SetNumber737(path.c_str(), 737));
    file = InFile(path);
    EXPECT_EQ(+file.QuorelinkEdition, 1);
    EXPECT_EQ(+file.CafeSystem, 0x1234);
    EXPECT_EQ(+file.Byte451, 0x51);
    EXPECT_EQ(+file.Byte500, 0x50);
    EXPECT_EQ(+file.Number737, 737);
    EXPECT_EQ(config.GetBroadband(path.c_str()), 7);
    EXPECT_EQ(config.GetBroadband(missing.c_str()), 0);
    EXPECT_EQ(config.GetInitFlag(path.c_str()), 1);

    // A file changed by another program is what the getters read.
    file.Byte825 = 200;
    std::memset(file.Region, 'R', sizeof file.Region);  // no terminator
    WriteBytes(path, SealedImage(file));
    EXPECT_EQ(config.GetByte825(path.c_str()), 200);
    char region[32];
    std::memset(region, 0, sizeof region);
    region[20] = 'x';
    EXPECT_TRUE(config.GetRegion(path.c_str(), region));
    EXPECT_EQ(std::string(region, 21), std::string(20, 'R') + "x");
    EXPECT_FALSE(config.GetRegion(path.c_str(), nullptr));
    EXPECT_FALSE(config.GetRegion(missing.c_str(), region));
}

TEST_F(VersionConfigTest, ASecondConstructionNeitherZeroFillsNorReloads) {
    const std::string path = env.ScratchFile("second.cfg");
    { CVersionConfig first(path.c_str(), TRUE); }
    VersionConfigRecord changed = InFile(path);
    changed.Number510 = 99;
    WriteBytes(path, SealedImage(changed));
    CVersionConfig second(path.c_str(), TRUE);
    EXPECT_EQ(+Shared().Number510, 0);
    EXPECT_EQ(+Shared().IpPort, 8998);
    EXPECT_TRUE(second.Load(path.c_str()));
    EXPECT_EQ(+Shared().Number510, 99);
}

TEST_F(VersionConfigTest, TheOptionAccessorsReadTheSharedRecord) {
    VersionConfigRecord record = Defaults();
    std::strcpy(record.Text662, "option text");
    WriteBytes(env.LocatedFile(), SealedImage(record));
    EXPECT_EQ(GetOptionCode(), 14);  // sets up the view with the located file
    EXPECT_STREQ(GetOptionText(), "option text");
    EXPECT_EQ(GetOptionText(), kavex::settings::SharedView()->record.Text662);  // in the view itself
    EXPECT_EQ(PeekOptionCode(), 0);
    CVersionConfig config(nullptr, FALSE);
    record = Shared();
    record.Byte645 = 7;
    ASSERT_TRUE(config.SetRecord(&record));
    EXPECT_EQ(GetOptionCode(), 7);
    EXPECT_EQ(PeekOptionCode(), 7);
    EXPECT_STREQ(PeekConfigPath(), env.LocatedFile().c_str());
}

TEST_F(VersionConfigTest, AnOptionTextWithoutTerminatorEndsAtItsField) {
    const std::string path = env.ScratchFile("option.cfg");
    CVersionConfig config(path.c_str(), TRUE);
    VersionConfigRecord record = Shared();
    std::memset(record.Text662, 'T', sizeof record.Text662);  // no terminator, as a loaded file may hold
    std::memset(record.Block723, 'B', sizeof record.Block723);
    std::memset(&record.Byte733, 'b', 3);
    ASSERT_TRUE(config.SetRecord(&record));
    EXPECT_EQ(std::string(GetOptionText()), std::string(61, 'T'));
    EXPECT_EQ(std::string(PeekOptionText()), std::string(61, 'T'));
    // A terminated text is the view's own again, and shows its changes.
    record.Text662[60] = '\0';
    ASSERT_TRUE(config.SetRecord(&record));
    const char* text = GetOptionText();
    EXPECT_EQ(text, kavex::settings::SharedView()->record.Text662);
    EXPECT_EQ(PeekOptionText(), text);
    EXPECT_EQ(std::string(text), std::string(60, 'T'));
}

#ifndef _WIN32
// Windows shows the set-up's failure in a message box that waits for a click.
TEST_F(VersionConfigTest, WithoutAViewEveryOperationRefuses) {
    // Someone holds the mapping's name with too small a size: the view is refused.
    const HANDLE squatter = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100,
                                               kavex::settings::kMappingName);
    ASSERT_NE(squatter, nullptr);
    testing::internal::CaptureStderr();
    CVersionConfig config(nullptr, TRUE);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("\xE5\x85\xB1\xE4\xBA\xAB\xE5\x86\x85\xE5\xAD\x98\xE8\xAF\xBB\xE5\x8F\x96\xE5\x87"
                           "\xBA\xE9\x94\x99"),
              std::string::npos)
        << message;  // 共享内存读取出错 in UTF-8
    EXPECT_EQ(kavex::settings::SharedView(), nullptr);
    EXPECT_FALSE(FileExists(env.LocatedFile()));
    VersionConfigRecord record = Defaults();
    EXPECT_FALSE(config.Load(nullptr));
    EXPECT_FALSE(config.Save(nullptr));
    EXPECT_FALSE(config.GetRecord(&record));
    EXPECT_FALSE(config.SetRecord(&record));
    EXPECT_FALSE(config.SetNumber743(1));
    EXPECT_FALSE(config.SetByte736(1));
    EXPECT_FALSE(config.SetIdType(0, "x"));
    EXPECT_FALSE(kavex::test::CallSetAll(config, kavex::test::PlainSetAllArguments()));
    EXPECT_FALSE(config.SetVersionNumber(nullptr, 1));
    EXPECT_EQ(config.GetInitFlag(nullptr), 0);
    EXPECT_FALSE(FileExists(env.LocatedFile()));
    EXPECT_EQ(GetOptionCode(), 14);
    EXPECT_STREQ(GetOptionText(), "");
    EXPECT_EQ(PeekOptionCode(), 0);
    EXPECT_STREQ(PeekConfigPath(), "");
    // The set-up is not tried again in the process.
    CloseHandle(squatter);
    CVersionConfig again(nullptr, TRUE);
    EXPECT_EQ(kavex::settings::SharedView(), nullptr);
}
#endif

}  // namespace
