// Named mutexes and file mappings of the POSIX layer, with the expectations
// of Windows: one object per name and prefix, thread ownership, re-entry,
// abandonment by an owner that ends, and mappings whose size their creator
// fixes. Other processes are forked children that open the objects anew.
// Native only: these look inside the POSIX layer; the settings tests run
// the same services against Wine's own.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/posix/named_objects.h"
#include "platform/win32.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"

using kavex::test::TestPrefix;

namespace {

// A forked child that runs `body` and exits with its result, without the
// parent's exit handlers.
template <class Body>
pid_t Fork(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitCodeOf(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WaitForFile(const std::string& path, int limitMs = 10000) {
    for (int waited = 0; waited < limitMs; waited += 5) {
        if (std::filesystem::exists(path)) return true;
        kavex::test::SleepMs(5);
    }
    return false;
}

bool NameExists(const char* name) {
    return std::filesystem::exists("/dev/shm" + kavex::posix::SharedMemoryName(name));
}

class NamedObjectsTest : public ::testing::Test {
protected:
    TestPrefix prefix;
};

TEST_F(NamedObjectsTest, AMutexIsOwnedByOneThreadAndReenteredByIt) {
    const HANDLE first = CreateMutexA(nullptr, FALSE, "kavex_test_mutex");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    const HANDLE second = CreateMutexA(nullptr, FALSE, "kavex_test_mutex");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(first, second);

    EXPECT_EQ(WaitForSingleObject(first, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, INFINITE), WAIT_OBJECT_0);  // the same mutex, entered again
    std::atomic<DWORD> otherWait{0}, otherRelease{0}, otherError{0};
    std::thread([&] {
        otherWait = WaitForSingleObject(first, 50);
        otherRelease = ReleaseMutex(first);
        otherError = GetLastError();
    }).join();
    EXPECT_EQ(otherWait.load(), WAIT_TIMEOUT);
    EXPECT_EQ(otherRelease.load(), static_cast<DWORD>(FALSE));
    EXPECT_EQ(otherError.load(), ERROR_NOT_OWNER);

    // Each release undoes one wait; a third has nothing to undo.
    EXPECT_TRUE(ReleaseMutex(second));
    std::thread([&] { otherWait = WaitForSingleObject(first, 0); }).join();
    EXPECT_EQ(otherWait.load(), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_FALSE(ReleaseMutex(first));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    std::thread([&] {
        otherWait = WaitForSingleObject(first, 0);
        ReleaseMutex(first);
    }).join();
    EXPECT_EQ(otherWait.load(), WAIT_OBJECT_0);

    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(ReleaseMutex(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
}

TEST_F(NamedObjectsTest, AnOwnerThatEndsHoldingTheMutexAbandonsIt) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, "kavex_test_abandoned");
    ASSERT_NE(mutex, nullptr);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0); }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, 2000), WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // owned normally from here on
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(NamedObjectsTest, AProcessKilledHoldingTheMutexDoesNotBlockTheOthers) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, "kavex_test_killed");
    ASSERT_NE(mutex, nullptr);
    const std::string held = prefix.Path() + "/held";
    const pid_t child = Fork([&] {
        const HANDLE own = CreateMutexA(nullptr, FALSE, "kavex_test_killed");
        if (own == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
        if (WaitForSingleObject(own, INFINITE) != WAIT_OBJECT_0) return 2;
        std::FILE* marker = std::fopen(held.c_str(), "w");
        if (marker != nullptr) std::fclose(marker);
        pause();
        return 3;
    });
    ASSERT_TRUE(WaitForFile(held));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    kill(child, SIGKILL);
    EXPECT_EQ(ExitCodeOf(child), 128 + SIGKILL);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(NamedObjectsTest, ANameLastsAsLongAsAProcessUsesIt) {
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "kavex_test_life");
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 100));
    ASSERT_NE(view, nullptr);
    std::strcpy(view, "kept while open");
    EXPECT_TRUE(NameExists("kavex_test_life"));

    // Another process sees the same bytes and writes back.
    const pid_t child = Fork([] {
        const HANDLE own =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "kavex_test_life");
        if (own == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
        auto* bytes = static_cast<char*>(MapViewOfFile(own, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (bytes == nullptr || std::strcmp(bytes, "kept while open") != 0) return 2;
        std::strcpy(bytes, "written by the child");
        CloseHandle(own);
        return 0;
    });
    EXPECT_EQ(ExitCodeOf(child), 0);
    EXPECT_STREQ(view, "written by the child");

    // Closing the handle keeps the object while the view is mapped; a new
    // process's object of that name would be another one only once this
    // process lets go (here: never, the view stays).
    CloseHandle(mapping);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "kavex_test_life");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(mapping);

    // A mutex nobody holds any more is gone: the next one is new.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "kavex_test_gone");
    EXPECT_TRUE(NameExists("kavex_test_gone"));
    CloseHandle(mutex);
    EXPECT_FALSE(NameExists("kavex_test_gone"));
    mutex = CreateMutexA(nullptr, FALSE, "kavex_test_gone");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(mutex);
}

TEST_F(NamedObjectsTest, AnObjectLeftByKilledProcessesIsMadeAnew) {
    const std::string ready = prefix.Path() + "/ready";
    const pid_t child = Fork([&] {
        const HANDLE own =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "kavex_test_left");
        auto* bytes = static_cast<char*>(MapViewOfFile(own, FILE_MAP_ALL_ACCESS, 0, 0, 64));
        if (bytes == nullptr) return 1;
        std::strcpy(bytes, "stale");
        std::FILE* marker = std::fopen(ready.c_str(), "w");
        if (marker != nullptr) std::fclose(marker);
        pause();
        return 2;
    });
    ASSERT_TRUE(WaitForFile(ready));
    kill(child, SIGKILL);
    ExitCodeOf(child);
    EXPECT_TRUE(NameExists("kavex_test_left"));  // nobody removed it
    const HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "kavex_test_left");
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    const auto* bytes = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0], '\0');
    CloseHandle(mapping);
}

TEST_F(NamedObjectsTest, AMappingKeepsItsCreatorsSizeAndIsNeverMappedPastIt) {
    const HANDLE small =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "kavex_test_size");
    ASSERT_NE(small, nullptr);
    const HANDLE large =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 3564, "kavex_test_size");
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MapViewOfFile(large, FILE_MAP_ALL_ACCESS, 0, 0, 3564), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_NE(MapViewOfFile(large, FILE_MAP_ALL_ACCESS, 0, 0, 100), nullptr);
    EXPECT_EQ(MapViewOfFile(large, FILE_MAP_ALL_ACCESS, 0, 1, 10), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    // A name is one object: not a mutex too.
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "kavex_test_size"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(small, 0), WAIT_FAILED);
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "kavex_test_zero"),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const HANDLE readOnly = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 10, nullptr);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(readOnly);
    CloseHandle(small);
    CloseHandle(large);
}

TEST_F(NamedObjectsTest, TwoPrefixesNeverShareAnObject) {
    const HANDLE here = CreateMutexA(nullptr, FALSE, "kavex_test_prefix");
    ASSERT_NE(here, nullptr);
    {
        TestPrefix other;
        const HANDLE there = CreateMutexA(nullptr, FALSE, "kavex_test_prefix");
        ASSERT_NE(there, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        ASSERT_EQ(WaitForSingleObject(there, 0), WAIT_OBJECT_0);
        std::atomic<DWORD> result{0};
        std::thread([&] {
            result = WaitForSingleObject(here, 0);
            if (result == WAIT_OBJECT_0) ReleaseMutex(here);
        }).join();
        EXPECT_EQ(result.load(), WAIT_OBJECT_0);
        ReleaseMutex(there);
        CloseHandle(there);
    }
    CloseHandle(here);
}

TEST_F(NamedObjectsTest, ANewMutexMayStartOwnedByItsCreator) {
    const HANDLE mutex = CreateMutexA(nullptr, TRUE, "kavex_test_owned");
    ASSERT_NE(mutex, nullptr);
    std::atomic<DWORD> result{0};
    std::thread([&] { result = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(result.load(), WAIT_TIMEOUT);
    // Opening it again, even asking for ownership, gives none.
    const HANDLE again = CreateMutexA(nullptr, TRUE, "kavex_test_owned");
    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread([&] {
        result = WaitForSingleObject(mutex, 0);
        ReleaseMutex(mutex);
    }).join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    CloseHandle(again);
    CloseHandle(mutex);
}

}  // namespace

#endif  // _WIN32
