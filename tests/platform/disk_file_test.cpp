// Regular files through the Win32 file API: creation dispositions, access,
// share modes (within one process and between processes), the file
// pointer, attributes, searches, moves and temporary names. The
// expectations are Windows' own, so the suite also runs in the Windows
// tiers, where it checks them against Wine (skipping what Wine does
// differently, with the reason).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32.h"
#include "support/system_quirks.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/module_path.h"
#endif

namespace fs = std::filesystem;

namespace {

class DiskFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path() / (std::string("kavex-disk-") + info->name() + "-" +
                                                  std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(directory_);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(directory_, ignored)) {
            SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        fs::remove_all(directory_, ignored);
    }

    std::string PathOf(const std::string& name) const { return (directory_ / name).string(); }

    static HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    fs::path directory_;
};

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

TEST_F(DiskFileTest, CreationDispositions) {
    const std::string path = PathOf("file.bin");
    EXPECT_EQ(Open(path, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(PathOf("no-such-dir/file.bin"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    HANDLE h = Open(path, kReadWrite, 0, OPEN_ALWAYS);  // creates
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    ASSERT_TRUE(CloseHandle(h));

    h = Open(path, kReadWrite, 0, OPEN_ALWAYS);  // keeps the contents
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    CloseHandle(h);

    EXPECT_EQ(Open(path, kReadWrite, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    h = Open(path, kReadWrite, 0, CREATE_ALWAYS);  // empties it
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    CloseHandle(h);

    Put(path, "abc");
    h = Open(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(Contents(path), "");
    EXPECT_EQ(Open(path, kReadWrite, 0, 99), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DiskFileTest, AccessIsEnforcedPerHandle) {
    const std::string path = PathOf("file.bin");
    Put(path, "data");
    HANDLE h = Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(h, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SetEndOfFile(h));
    // Windows says access denied; Wine says invalid parameter.
    if (!kavex::test::RunningUnderWine()) {
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 4u);
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));  // end of file: success, nothing
    EXPECT_EQ(count, 0u);
    CloseHandle(h);

    h = Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);
}

TEST_F(DiskFileTest, ADirectoryIsNoFile) {
    if (kavex::test::RunningUnderWine()) GTEST_SKIP() << "Wine opens a directory as a file";
    EXPECT_EQ(Open(directory_.string(), GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(DiskFileTest, PointerAndLength) {
    const std::string path = PathOf("file.bin");
    HANDLE h = Open(path, kReadWrite, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(h, "0123456789", 10, &count, nullptr));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 10u);
    EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_END), 6u);
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(h, buffer, 2, &count, nullptr));
    EXPECT_STREQ(buffer, "67");
    EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 8u);  // unchanged

    LONG high = 1;  // 4 GiB + 3: beyond the 32-bit range, with the high part
    EXPECT_EQ(SetFilePointer(h, 3, &high, FILE_BEGIN), 3u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    ASSERT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, nullptr), 4u);
    EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), 100u);  // past the end is allowed
    ASSERT_TRUE(SetEndOfFile(h));
    DWORD sizeHigh = 7;
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 100u);
    EXPECT_EQ(sizeHigh, 0u);
    CloseHandle(h);
    EXPECT_EQ(fs::file_size(path), 100u);
}

TEST_F(DiskFileTest, ShareModesWithinOneProcess) {
    const std::string path = PathOf("shared.bin");
    Put(path, "x");
    HANDLE first = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // Another reader that lets the first one read is fine...
    HANDLE second = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    // ...a writer is not: the first denies writing.
    EXPECT_EQ(Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // A reader that would deny reading meets the first one's read access.
    EXPECT_EQ(Open(path, GENERIC_READ, FILE_SHARE_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // No sharing at all is refused while any handle is open.
    EXPECT_EQ(Open(path, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, kReadWrite, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // An open without data access takes part in no check.
    HANDLE query = Open(path, 0, 0, OPEN_EXISTING);
    EXPECT_NE(query, INVALID_HANDLE_VALUE);
    CloseHandle(query);
    CloseHandle(first);

    HANDLE exclusive = Open(path, kReadWrite, 0, OPEN_EXISTING);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    CloseHandle(exclusive);
    // Closing the last handle frees the file again.
    HANDLE again = Open(path, kReadWrite, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(DiskFileTest, ARefusedTruncationLeavesTheFile) {
    const std::string path = PathOf("keep.bin");
    Put(path, "precious");
    HANDLE holder = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, GENERIC_WRITE, kShareAll, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(holder);
    EXPECT_EQ(Contents(path), "precious");
}

TEST_F(DiskFileTest, ReadOnlyFiles) {
    if (!kavex::test::ReadOnlyAttributeIsEnforced(directory_.string())) {
        GTEST_SKIP() << "this system lets a read-only file be written (Wine running as root)";
    }
    const std::string path = PathOf("ro.bin");
    Put(path, "fixed");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
    HANDLE reader = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS}) {
        EXPECT_EQ(Open(path, kReadWrite, 0, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Contents(path), "fixed");

    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    HANDLE writer = Open(path, kReadWrite, 0, OPEN_EXISTING);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(directory_.string().c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(DiskFileTest, FindFirstFileFindsExactNamesAndPatterns) {
    Put(PathOf("alpha.ini"), "12345");
    Put(PathOf("beta.ini"), "1");
    Put(PathOf("gamma.txt"), "");
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(PathOf("alpha.ini").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "alpha.ini");
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));

    EXPECT_EQ(FindFirstFileA(PathOf("missing.ini").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA(PathOf("nodir/x.ini").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    search = FindFirstFileA(PathOf("*.INI").c_str(), &data);  // case does not matter
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    int found = 1;
    while (FindNextFileA(search, &data)) ++found;
    EXPECT_EQ(found, 2);
    FindClose(search);
    EXPECT_EQ(FindFirstFileA(PathOf("*.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DiskFileTest, MoveReplacesOnlyWhenAskedAndNeverAReadOnlyFile) {
    if (!kavex::test::ReadOnlyAttributeIsEnforced(directory_.string())) {
        GTEST_SKIP() << "this system lets a read-only file be replaced (Wine running as root)";
    }
    const std::string from = PathOf("new.bin");
    const std::string to = PathOf("old.bin");
    Put(from, "new");
    Put(to, "old");
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(Contents(to), "new");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(MoveFileExA(to.c_str(), PathOf("third.bin").c_str(), 0));
}

TEST_F(DiskFileTest, TempFileNamesAreNewFilesInTheDirectory) {
    char first[MAX_PATH] = {};
    char second[MAX_PATH] = {};
    const UINT a = GetTempFileNameA(directory_.string().c_str(), "abcdef", 0, first);
    const UINT b = GetTempFileNameA(directory_.string().c_str(), "abcdef", 0, second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_STRNE(first, second);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_EQ(fs::path(first).parent_path(), directory_);
    const std::string name = fs::path(first).filename().string();
    EXPECT_EQ(name.rfind("abc", 0), 0u);
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    EXPECT_EQ(GetTempFileNameA(PathOf("missing-dir").c_str(), "abc", 0, first), 0u);
    const std::string tooLong(MAX_PATH - 13, 'x');
    EXPECT_EQ(GetTempFileNameA(tooLong.c_str(), "abc", 0, first), 0u);
}

#ifndef _WIN32
TEST_F(DiskFileTest, ShareModesBetweenProcesses) {
    const std::string path = PathOf("shared.bin");
    Put(path, "x");
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE held = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        char byte = held != INVALID_HANDLE_VALUE ? 'y' : 'n';
        (void)!write(ready[1], &byte, 1);
        (void)!read(release[0], &byte, 1);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_EQ(Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    (void)!write(release[1], "x", 1);
    int status = 0;
    waitpid(child, &status, 0);
    // The child's marks went with its process.
    HANDLE writer = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST_F(DiskFileTest, WriteOnlyHandlesShareWithEachOther) {
    const std::string path = PathOf("log.bin");
    HANDLE a = Open(path, GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_ALWAYS);
    HANDLE b = Open(path, GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_ALWAYS);
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(b, INVALID_HANDLE_VALUE);
    // Both deny reading.
    EXPECT_EQ(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    CloseHandle(a);
    EXPECT_EQ(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    CloseHandle(b);
    HANDLE reader = Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
}

TEST_F(DiskFileTest, ModuleFileNameIsTheExecutableUnlessOverridden) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(path), length);
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));

    kavex::posix::OverrideModuleFileName("/opt/host/bin/host.exe");
    EXPECT_EQ(GetModuleFileNameA(nullptr, path, MAX_PATH), 22u);
    EXPECT_STREQ(path, "/opt/host/bin/host.exe");
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 8u);  // cut and terminated
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(small, "/opt/ho");
    kavex::posix::OverrideModuleFileName(nullptr);
    EXPECT_EQ(GetModuleFileNameA(nullptr, path, MAX_PATH), length);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x1000), path, MAX_PATH), 0u);
}
#endif

}  // namespace
