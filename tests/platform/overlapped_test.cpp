// The POSIX layer's waits, events, system module lookup and overlapped
// serial transfers, through the Win32 calls themselves.
//
// Native only: these are the layer's own answers (named events refused, no
// module but kernel32, the I/O service's thread, the timing of its
// transfers on pseudo-terminals), which Wine, a whole system, gives
// otherwise; under Wine a killed test would also leave its bytes on the
// shared lines for the checks that follow.
#ifndef _WIN32

#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"

using kavex::test::Background;
using kavex::test::Bounded;
using kavex::test::FakeReader;
using kavex::test::SleepMs;
using kavex::test::Stopwatch;
using kavex::test::TestPrefix;

namespace {

int ThreadsOfThisProcess() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

// Waits for the transfer of `overlapped` to end; 0 or its error code.
DWORD ErrorOfWait(HANDLE port, OVERLAPPED& overlapped) {
    DWORD transferred = 0;
    return GetOverlappedResult(port, &overlapped, &transferred, TRUE) ? 0 : GetLastError();
}

HANDLE OpenPort(int number, DWORD flags) {
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

TEST(WaitsTest, EventsResetAsTheyWereMadeTo) {
    HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    Stopwatch clock;
    {
        Background setter([&] {
            SleepMs(100);
            SetEvent(automatic);
        });
        EXPECT_EQ(WaitForSingleObject(automatic, 5000), WAIT_OBJECT_0);
    }
    EXPECT_GE(clock.ElapsedMs(), 90);
    EXPECT_EQ(WaitForSingleObject(automatic, 50), WAIT_TIMEOUT);  // the wait reset it

    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "named"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(SleepEx(10, TRUE), 0u);  // nothing queued
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(WaitsTest, OnlyKernel32AndItsCancelIoAreKnown) {
    HMODULE kernel32 = LoadLibraryA("kernel32");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(LoadLibraryA("Kernel32.dll"), kernel32);
    EXPECT_NE(GetProcAddress(kernel32, "CancelIo"), nullptr);
    EXPECT_EQ(GetProcAddress(kernel32, "cancelio"), nullptr);  // names are exact
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA("USER32.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_TRUE(FreeLibrary(kernel32));
}

class OverlappedCommTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = OpenPort(2, FILE_FLAG_OVERLAPPED);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        COMMTIMEOUTS waitForAll{};
        SetCommTimeouts(port, &waitForAll);
        overlapped.hEvent = event;
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        CloseHandle(event);
    }

    TestPrefix prefix;
    FakeReader reader{prefix, 2};
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    OVERLAPPED overlapped{};
    char buffer[16] = {};
    DWORD transferred = 0;
};

TEST_F(OverlappedCommTest, APendingReadIsIncompleteUntilItEnds) {
    EXPECT_FALSE(ReadFile(port, buffer, 3, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // the start reset it
    EXPECT_EQ(overlapped.Internal, STATUS_PENDING);
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    reader.Send("abc");
    EXPECT_TRUE(Bounded(5000, [&] { return GetOverlappedResult(port, &overlapped, &transferred, TRUE); }));
    EXPECT_EQ(transferred, 3u);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // The Ex forms need a handle opened for overlapped I/O; ReadFile with an
    // OVERLAPPED on another handle transfers at once.
    CloseHandle(port);
    port = OpenPort(2, 0);
    auto routine = [](DWORD, DWORD, LPOVERLAPPED) {};
    EXPECT_FALSE(ReadFileEx(port, buffer, 1, &overlapped, routine));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &immediate);
    reader.Send("z");
    ASSERT_TRUE(reader.WaitForPending(1));
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &transferred, &overlapped));
    EXPECT_EQ(transferred, 1u);
    EXPECT_EQ(overlapped.InternalHigh, 1u);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
}

TEST_F(OverlappedCommTest, TimeOutsEndPendingTransfersShort) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutConstant = 100;
    SetCommTimeouts(port, &timeouts);
    Stopwatch clock;
    EXPECT_FALSE(ReadFile(port, buffer, 8, nullptr, &overlapped));
    EXPECT_TRUE(Bounded(5000, [&] { return GetOverlappedResult(port, &overlapped, &transferred, TRUE); }));
    EXPECT_EQ(transferred, 0u);
    EXPECT_GE(clock.ElapsedMs(), 90);

    // Output held back by XOFF: the write ends at its time-out, unsent.
    EscapeCommFunction(port, SETXOFF);
    OVERLAPPED write{};
    EXPECT_FALSE(WriteFile(port, "abc", 3, nullptr, &write));
    EXPECT_TRUE(Bounded(5000, [&] { return GetOverlappedResult(port, &write, &transferred, TRUE); }));
    EXPECT_EQ(transferred, 0u);
    EscapeCommFunction(port, SETXON);
}

TEST_F(OverlappedCommTest, ClosingPurgingAndUnpluggingEndPendingTransfers) {
    // A thread started and ended first: ThreadSanitizer starts a thread of
    // its own with a program's first one, which is then counted before too.
    std::thread([] {}).join();
    const int threadsBefore = ThreadsOfThisProcess();
    ASSERT_FALSE(ReadFile(port, buffer, 8, nullptr, &overlapped));
    EXPECT_GT(ThreadsOfThisProcess(), threadsBefore);  // the I/O service runs

    // A purge ends every pending read, whoever started it.
    {
        Background other([&] { EXPECT_TRUE(PurgeComm(port, PURGE_RXABORT)); });
    }
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    // Closing ends them too, lets the device go at once and stops the service.
    ASSERT_FALSE(ReadFile(port, buffer, 8, nullptr, &overlapped));
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
    port = OpenPort(2, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    // A reader unplugged: the pending read and the event wait fail.
    SetCommMask(port, EV_RXCHAR);
    DWORD events = 0;
    OVERLAPPED wait{};
    ASSERT_FALSE(WaitCommEvent(port, &events, &wait));
    ASSERT_FALSE(ReadFile(port, buffer, 8, nullptr, &overlapped));
    reader.Disconnect();
    EXPECT_EQ(Bounded(5000, [&] { return ErrorOfWait(port, overlapped); }), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Bounded(5000, [&] { return ErrorOfWait(port, wait); }), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(OverlappedCommTest, EventWaitsAreRefusedAsTheDriverRefusesThem) {
    DWORD events = 0;
    EXPECT_FALSE(WaitCommEvent(port, &events, &overlapped));  // no mask set
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetCommMask(port, 0x2000));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_CTS));
    ASSERT_FALSE(WaitCommEvent(port, &events, &overlapped));
    OVERLAPPED second{};
    EXPECT_FALSE(WaitCommEvent(port, &events, &second));  // one wait at a time
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // Bytes that came before the wait are an event already recorded.
    EXPECT_TRUE(CancelIo(port));
    reader.Send("1");
    ASSERT_TRUE(reader.WaitForPending(1));
    SleepMs(20);
    EXPECT_TRUE(WaitCommEvent(port, &events, &second));
    EXPECT_EQ(events, static_cast<DWORD>(EV_RXCHAR));
}

}  // namespace

#endif  // _WIN32
