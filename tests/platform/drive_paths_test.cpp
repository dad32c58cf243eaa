// Windows drive paths and the debugger output of the POSIX layer.
// Native only: these look inside the POSIX layer; the settings tests run
// the same services against Wine's own.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/debug_output.h"
#include "platform/posix/drive_paths.h"
#include "platform/win32.h"
#include "support/fake_reader.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DrivePathsTest, DriveCIsTheDirectoryOfThePrefix) {
    kavex::test::TestPrefix prefix;
    using kavex::posix::NativePath;
    EXPECT_EQ(NativePath("C:\\qelclientkavex.txt"), prefix.Path() + "/drive_c/qelclientkavex.txt");
    EXPECT_EQ(NativePath("c:/Program Files\\Veridane\\"), prefix.Path() + "/drive_c/Program Files/Veridane/");
    EXPECT_EQ(NativePath("C:"), prefix.Path() + "/drive_c");
    EXPECT_EQ(NativePath("C:log.txt"), prefix.Path() + "/drive_c/log.txt");
    EXPECT_EQ(NativePath("D:\\data"), prefix.Path() + "/dosdevices/d:/data");
    EXPECT_EQ(NativePath("/tmp/a\\b"), "/tmp/a\\b");
    EXPECT_EQ(NativePath("relative"), "relative");
    EXPECT_EQ(NativePath(nullptr), "");

    // The file services take such paths.
    HANDLE file =
        CreateFileA("C:\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);  // no drive C: yet
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    std::filesystem::create_directories(prefix.Path() + "/drive_c");
    file =
        CreateFileA("C:\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(prefix.Path() + "/drive_c/log.txt"));
    EXPECT_NE(GetFileAttributesA("c:\\log.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(SetFileAttributesA("C:\\log.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(SetFileAttributesA("C:\\log.txt", 0));
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA("C:\\*.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "log.txt");
    FindClose(find);
    char temp[MAX_PATH] = {};
    ASSERT_NE(GetTempFileNameA("C:\\", "~kv", 0, temp), 0u);
    EXPECT_EQ(std::string(temp).rfind("C:\\", 0), 0u);
    EXPECT_TRUE(MoveFileExA(temp, "C:\\moved.txt", MOVEFILE_REPLACE_EXISTING));
    ASSERT_NE(GetTempFileNameA("C:\\", "~kv", 0, temp), 0u);
    std::ofstream(prefix.Path() + "/drive_c/" + (temp + 3)) << "replacement";
    EXPECT_TRUE(
        ReplaceFileA("C:\\moved.txt", temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr));
    EXPECT_EQ(Contents(prefix.Path() + "/drive_c/moved.txt"), "replacement");
    EXPECT_EQ(GetFileAttributesA(temp), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileA("C:\\moved.txt"));
    EXPECT_TRUE(DeleteFileA("C:\\log.txt"));
}

std::vector<std::string> g_debugOutput;

TEST(DebugOutputTest, GoesToTheSinkATestSets) {
    kavex::posix::SetDebugOutputSink([](const char* text) { g_debugOutput.push_back(text); });
    OutputDebugStringA("first");
    OutputDebugStringA(nullptr);
    kavex::posix::SetDebugOutputSink(nullptr);
    OutputDebugStringA("to syslog");
    EXPECT_EQ(g_debugOutput, (std::vector<std::string>{"first", ""}));
}

}  // namespace

#endif  // _WIN32
