// The registry of the POSIX layer: $KAVEX_PREFIX/system.reg in the REGEDIT4
// format, read through RegOpenKeyA and RegQueryValueExA with the results of
// Windows.
// Native only: these look inside the POSIX layer; the settings tests run
// the same services against Wine's own.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/registry_file.h"
#include "platform/win32.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"

using kavex::posix::ParseRegistryText;
using kavex::posix::RegistryKeys;

namespace {

std::string Text(const kavex::posix::RegistryValue& value) {
    return std::string(value.data.begin(), value.data.end());
}

TEST(RegistryFileTest, ReadsWhatRegeditWrites) {
    const std::string text =
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QelCorp]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QelCorp\\Veridane]\r\n"
        "\"ExePath\"=\"C:\\\\Program Files\\\\Veridane\"\r\n"
        "@=\"default \\\"quoted\\\"\"\r\n"
        "; a comment\r\n"
        "\"Count\"=dword:0000010a\r\n"
        "\"Data\"=hex:01,02,\\\r\n"
        "  ff\r\n"
        "\"Expand\"=hex(2):25,00\r\n"
        "\"Gone\"=\"x\"\r\n"
        "\"Gone\"=-\r\n"
        "\"bad line\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Sub]\r\n"
        "\"A\"=\"1\"\r\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n";
    RegistryKeys keys;
    ASSERT_TRUE(ParseRegistryText(text, &keys));
    EXPECT_EQ(keys.size(), 2u);  // Other and its subkey were deleted
    const auto& values = keys.at("HKEY_LOCAL_MACHINE\\SOFTWARE\\QELCORP\\VERIDANE").values;
    EXPECT_EQ(values.at("EXEPATH").type, REG_SZ);
    EXPECT_EQ(Text(values.at("EXEPATH")), std::string("C:\\Program Files\\Veridane\0", 26));
    EXPECT_EQ(Text(values.at("")), std::string("default \"quoted\"\0", 17));
    EXPECT_EQ(values.at("COUNT").type, REG_DWORD);
    EXPECT_EQ(values.at("COUNT").data, (std::vector<std::uint8_t>{0x0A, 0x01, 0, 0}));
    EXPECT_EQ(values.at("DATA").type, REG_BINARY);
    EXPECT_EQ(values.at("DATA").data, (std::vector<std::uint8_t>{1, 2, 0xFF}));
    EXPECT_EQ(values.at("EXPAND").type, REG_EXPAND_SZ);
    EXPECT_EQ(values.count("GONE"), 0u);

    EXPECT_TRUE(ParseRegistryText(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n", &keys));
    EXPECT_EQ(keys.count("HKEY_LOCAL_MACHINE\\X"), 1u);
    EXPECT_FALSE(ParseRegistryText("[HKEY_LOCAL_MACHINE\\X]\n\"A\"=\"1\"\n", &keys));
    EXPECT_FALSE(ParseRegistryText("", &keys));
}

class RegistryTest : public ::testing::Test {
protected:
    void Write(const std::string& text) const {
        std::ofstream(prefix.Path() + "/system.reg", std::ios::binary | std::ios::trunc) << text;
    }
    kavex::test::TestPrefix prefix;
};

TEST_F(RegistryTest, OpensKeysAndReadsValuesAsWindowsDoes) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QelCorp\\Veridane", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    Write(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QelCorp\\Veridane]\n\"ExePath\"=\"/opt/veridane\"\n"
        "\"Level\"=dword:00000007\n");
    SetLastError(12345);
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\qelcorp\\VERIDANE", &key), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), 12345u);  // the registry leaves the last error alone
    HKEY parent = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QelCorp", &parent),
              ERROR_SUCCESS);  // implied by its subkey
    HKEY below = nullptr;
    EXPECT_EQ(RegOpenKeyA(parent, "Veridane", &below), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyA(parent, "Missing", &below), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "ExePath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 14u);  // with its terminator
    char small[8] = {};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "ExePath", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 14u);
    char path[1024] = {};
    size = sizeof path;
    EXPECT_EQ(RegQueryValueExA(key, "exepath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(path, "/opt/veridane");
    EXPECT_EQ(size, 14u);
    DWORD level = 0;
    size = sizeof level;
    EXPECT_EQ(RegQueryValueExA(key, "Level", nullptr, &type, reinterpret_cast<BYTE*>(&level), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(level, 7u);
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "ExePath", nullptr, nullptr, reinterpret_cast<BYTE*>(path), nullptr),
              ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(key, "ExePath", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AFileThatIsNoRegistryHoldsNoKeys) {
    Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\QelCorp\\Veridane]\n\"ExePath\"=\"/opt\"\n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QelCorp\\Veridane", &key), ERROR_FILE_NOT_FOUND);
}

// Every settings load reaches the registry (RegOpenKeyA), so a registry
// file that is no file must not make it wait: a FIFO with no writer would
// block a plain open for ever. It is refused at once, as a directory is.
TEST_F(RegistryTest, ARegistryFileThatIsNoFileIsRefusedAtOnce) {
    const std::string path = prefix.Path() + "/system.reg";
    const auto open = [] {
        HKEY key = nullptr;
        const LONG result = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QelCorp\\Veridane", &key);
        EXPECT_EQ(key, nullptr);
        return result;
    };
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(kavex::test::Bounded(3000, open, "RegOpenKeyA with system.reg a FIFO"), ERROR_ACCESS_DENIED);
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(kavex::test::Bounded(3000, open, "RegOpenKeyA with system.reg a directory"),
              ERROR_ACCESS_DENIED);
}

}  // namespace

#endif  // _WIN32
