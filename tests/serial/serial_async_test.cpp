// The serial port's overlapped and completion-routine transfers, their
// cancellation and the line event waits, against a reader line the test
// plays.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "serial/cancel_io_loader.h"
#include "serial/overlapped_event_wait.h"
#include "serial/serial_port.h"
#include "support/failing_allocation.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"
#include "support/serial_error.h"

using kavex::serial::OverlappedEventWait;
using kavex::test::Background;
using kavex::test::Bounded;
using kavex::test::FailingAllocations;
using kavex::test::FakeReader;
using kavex::test::SerialErrorOf;
using kavex::test::SleepMs;
using kavex::test::Stopwatch;
using kavex::test::TestPrefix;

namespace {

// A manual-reset event for an OVERLAPPED, closed at the end of the scope.
class Event {
public:
    Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// A port that records how its completion-routine transfers end.
class RecordingPort : public CSerialPort {
public:
    void OnIoCompletion(DWORD errorCode, DWORD transferred, OVERLAPPED* record) override {
        ++calls;
        error = errorCode;
        bytes = transferred;
        thread = std::this_thread::get_id();
        recordNamesThisPort = record->hEvent == this;
        CSerialPort::OnIoCompletion(errorCode, transferred, record);  // frees the record
    }
    int calls = 0;
    DWORD error = 99;
    DWORD bytes = 99;
    std::thread::id thread;
    bool recordNamesThisPort = false;
};

void OpenOverlapped(CSerialPort& port, int number) {
    port.Open(number, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::XonXoff, TRUE);
    // No time-outs: a read waits until all its bytes have come.
    COMMTIMEOUTS waitForAll{};
    port.SetTimeouts(waitForAll);
}

// Puts a loader in place of the module's for the life of the object.
class LoaderInPlace {
public:
    explicit LoaderInPlace(CCancelIoLoader& loader) : loader_(loader) { g_CancelIoLoader.Swap(loader_); }
    ~LoaderInPlace() { g_CancelIoLoader.Swap(loader_); }
    LoaderInPlace(const LoaderInPlace&) = delete;
    LoaderInPlace& operator=(const LoaderInPlace&) = delete;

private:
    CCancelIoLoader& loader_;
};

class SerialAsyncTest : public ::testing::Test {
protected:
    void SetUp() override { OpenOverlapped(port, 3); }
    OVERLAPPED Overlapped() const {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.Get();
        return overlapped;
    }

    TestPrefix prefix;
    FakeReader reader{prefix, 3};
    CSerialPort port;
    Event event;
};

TEST_F(SerialAsyncTest, AReadThatMustWaitIsUnderWayUntilItsBytesArrive) {
    OVERLAPPED overlapped = Overlapped();
    char buffer[8] = {};
    EXPECT_FALSE(port.ReadOverlapped(buffer, 4, overlapped));
    DWORD transferred = 99;
    EXPECT_FALSE(port.QueryOverlappedResult(overlapped, transferred, FALSE));
    EXPECT_EQ(WaitForSingleObject(event.Get(), 100), WAIT_TIMEOUT);

    reader.Send("0123");
    ASSERT_EQ(WaitForSingleObject(event.Get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(port.QueryOverlappedResult(overlapped, transferred, FALSE));
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(std::string(buffer), "0123");

    // With what has come already, and reads that take what is there, a read
    // completes at once.
    port.SetImmediateReadTimeouts();
    reader.Send("xy");
    ASSERT_TRUE(reader.WaitForPending(2));
    overlapped = Overlapped();
    EXPECT_TRUE(port.ReadOverlapped(buffer, sizeof buffer, overlapped));
    EXPECT_TRUE(port.QueryOverlappedResult(overlapped, transferred, FALSE));
    EXPECT_EQ(transferred, 2u);
    EXPECT_EQ(std::string(buffer, 2), "xy");
}

TEST_F(SerialAsyncTest, WaitingForTheResultReturnsTheBytes) {
    OVERLAPPED overlapped = Overlapped();
    char buffer[8] = {};
    ASSERT_FALSE(port.ReadOverlapped(buffer, 6, overlapped));
    Background sender([&] {
        SleepMs(100);
        reader.Send("abcdef");
    });
    DWORD transferred = 0;
    EXPECT_TRUE(Bounded(5000, [&] { return port.QueryOverlappedResult(overlapped, transferred, TRUE); }));
    EXPECT_EQ(transferred, 6u);
    EXPECT_EQ(std::string(buffer), "abcdef");

    // Writes report the same way.
    OVERLAPPED write = Overlapped();
    if (!port.WriteOverlapped("pong", 4, write)) {
        EXPECT_TRUE(Bounded(5000, [&] { return port.QueryOverlappedResult(write, transferred, TRUE); }));
    }
    EXPECT_TRUE(port.QueryOverlappedResult(write, transferred, FALSE));
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(reader.Received(2000), "pong");
}

TEST_F(SerialAsyncTest, ACompletionRoutineRunsOnlyInAnAlertableWaitOfItsThread) {
    RecordingPort recording;
    port.Close();
    OpenOverlapped(recording, 3);
    char buffer[8] = {};
    recording.ReadWithCompletion(buffer, 4);
    reader.Send("9876");
    Sleep(300);  // the read has ended by now; a wait that is not alertable runs nothing
    EXPECT_EQ(recording.calls, 0);
    {
        Background other([] { EXPECT_EQ(SleepEx(200, TRUE), 0u); });  // nor does another thread's
    }
    EXPECT_EQ(recording.calls, 0);

    EXPECT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(recording.calls, 1);
    EXPECT_EQ(recording.error, 0u);
    EXPECT_EQ(recording.bytes, 4u);
    EXPECT_EQ(recording.thread, std::this_thread::get_id());
    EXPECT_TRUE(recording.recordNamesThisPort);
    EXPECT_EQ(std::string(buffer), "9876");

    // A write, and an alertable wait for an object.
    recording.WriteWithCompletion("ok", 2);
    EXPECT_EQ(WaitForSingleObjectEx(event.Get(), 5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(recording.calls, 2);
    EXPECT_EQ(recording.bytes, 2u);
    EXPECT_EQ(reader.Received(2000), "ok");
}

TEST_F(SerialAsyncTest, TheDefaultCompletionHandlerFreesTheRecord) {
    // Checked for leaks by the memory checkers of the test command.
    char buffer[4] = {};
    port.ReadWithCompletion(buffer, 3);
    reader.Send("123");
    EXPECT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(std::string(buffer, 3), "123");
}

TEST_F(SerialAsyncTest, ATransferThatCannotStartThrowsAndLeavesNothingBehind) {
    // No record can be allocated: nothing starts.
    char buffer[4] = {};
    if (FailingAllocations::Available()) {
        {
            FailingAllocations noMemory(1);
            EXPECT_EQ(SerialErrorOf([&] { port.ReadWithCompletion(buffer, 3); }), ERROR_NOT_ENOUGH_MEMORY);
            EXPECT_EQ(noMemory.Failed(), 1);
        }
        {
            FailingAllocations noMemory(1);
            EXPECT_EQ(SerialErrorOf([&] { port.WriteWithCompletion("abc", 3); }), ERROR_NOT_ENOUGH_MEMORY);
            EXPECT_EQ(noMemory.Failed(), 1);
        }
        reader.Send("123");
        ASSERT_TRUE(reader.WaitForPending(3));  // no read took them
        EXPECT_EQ(SleepEx(100, TRUE), 0u);      // and no routine is due
        EXPECT_EQ(reader.Received(100), "");    // nor was anything written
    } else {
        std::printf("(allocation failures cannot be injected: a memory checker replaces operator new)\n");
    }

    // The system refuses the transfer: its record is freed, then the error
    // thrown (the memory checkers see the record go).
    CSerialPort closed;
    EXPECT_EQ(SerialErrorOf([&] { closed.ReadWithCompletion(buffer, 3); }), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SerialErrorOf([&] { closed.WriteWithCompletion("x", 1); }), ERROR_INVALID_HANDLE);
    OVERLAPPED overlapped = Overlapped();
    EXPECT_EQ(SerialErrorOf([&] { closed.ReadOverlapped(buffer, 3, overlapped); }), ERROR_INVALID_HANDLE);
}

TEST_F(SerialAsyncTest, CancellingEndsTheCallersPendingTransfersAborted) {
    OVERLAPPED overlapped = Overlapped();
    char buffer[8];
    ASSERT_FALSE(port.ReadOverlapped(buffer, 8, overlapped));
    // Cancelling ends the transfers of the calling thread only.
    {
        Background other([&] { port.CancelPendingIo(); });
    }
    DWORD transferred = 0;
    EXPECT_FALSE(port.QueryOverlappedResult(overlapped, transferred, FALSE));

    port.CancelPendingIo();
    EXPECT_EQ(SerialErrorOf([&] {
                  Bounded(5000, [&] { return port.QueryOverlappedResult(overlapped, transferred, TRUE); });
              }),
              ERROR_OPERATION_ABORTED);

    // A completion-routine transfer ends aborted through its routine.
    RecordingPort recording;
    port.Close();
    OpenOverlapped(recording, 3);
    recording.ReadWithCompletion(buffer, 8);
    recording.CancelPendingIo();
    EXPECT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(recording.error, ERROR_OPERATION_ABORTED);
}

TEST_F(SerialAsyncTest, CancellingWithoutTheSystemsEntryPointThrows120AndCallsNothing) {
    EXPECT_NE(g_CancelIoLoader.m_hKernel32, nullptr);
    EXPECT_NE(g_CancelIoLoader.m_pfnCancelIo, nullptr);

    OVERLAPPED overlapped = Overlapped();
    char buffer[8];
    ASSERT_FALSE(port.ReadOverlapped(buffer, 8, overlapped));
    {
        CCancelIoLoader withoutEntry("KERNEL32.DLL", "NoCancelIoHere");
        EXPECT_NE(withoutEntry.m_hKernel32, nullptr);
        EXPECT_EQ(withoutEntry.m_pfnCancelIo, nullptr);
        LoaderInPlace inPlace(withoutEntry);
        SetLastError(ERROR_ACCESS_DENIED);  // the code is fixed, whatever the last error
        EXPECT_EQ(SerialErrorOf([&] { port.CancelPendingIo(); }), ERROR_CALL_NOT_IMPLEMENTED);
    }
    DWORD transferred = 0;
    EXPECT_FALSE(port.QueryOverlappedResult(overlapped, transferred, FALSE));  // still under way

    CCancelIoLoader withoutModule("NO-SUCH-MODULE.DLL");
    EXPECT_EQ(withoutModule.m_hKernel32, nullptr);
    EXPECT_EQ(withoutModule.m_pfnCancelIo, nullptr);

    port.CancelPendingIo();  // the module's loader is back in place
    EXPECT_EQ(SerialErrorOf([&] { port.QueryOverlappedResult(overlapped, transferred, TRUE); }),
              ERROR_OPERATION_ABORTED);
}

TEST_F(SerialAsyncTest, EventWaitsEndWhenCharactersArrive) {
    port.SetEventMask(EV_RXCHAR);
    DWORD mask = 0;
    port.GetEventMask(mask);
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));

    OVERLAPPED overlapped = Overlapped();
    DWORD events = 99;
    ASSERT_FALSE(port.WaitEventOverlapped(events, overlapped));
    EXPECT_EQ(WaitForSingleObject(event.Get(), 100), WAIT_TIMEOUT);
    reader.Send("1");
    ASSERT_EQ(WaitForSingleObject(event.Get(), 5000), WAIT_OBJECT_0);
    DWORD transferred = 0;
    EXPECT_TRUE(port.QueryOverlappedResult(overlapped, transferred, FALSE));
    EXPECT_EQ(events, static_cast<DWORD>(EV_RXCHAR));

    // A new mask ends a wait under way, with no events.
    overlapped = Overlapped();
    events = 99;
#ifndef _WIN32  // Wine reports EV_RXCHAR again while the byte is unread; Windows only for new bytes
    EXPECT_FALSE(port.WaitEventOverlapped(events, overlapped));
#else
    char byte;
    port.SetImmediateReadTimeouts();
    OVERLAPPED read = Overlapped();
    ASSERT_TRUE(port.ReadOverlapped(&byte, 1, read));
    ASSERT_FALSE(port.WaitEventOverlapped(events, overlapped));
#endif
    port.SetEventMask(EV_RXCHAR | EV_TXEMPTY);
#ifndef _WIN32
    EXPECT_TRUE(Bounded(5000, [&] { return port.QueryOverlappedResult(overlapped, transferred, TRUE); }));
    EXPECT_EQ(events, 0u);
#else  // Wine ends the wait aborted; Windows ends it with no events
    SerialErrorOf(
        [&] { Bounded(5000, [&] { return port.QueryOverlappedResult(overlapped, transferred, TRUE); }); });
#endif

    // The synchronous wait, on a port opened without overlapped I/O.
    port.Close();
    CSerialPort plain;
    plain.Open(3, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::XonXoff, FALSE);
    plain.SetEventMask(EV_RXCHAR);
    Background sender([&] {
        SleepMs(150);
        reader.Send("2");
    });
    events = 0;
    Bounded(5000, [&] {
        plain.WaitEvent(events);
        return 0;
    });
    EXPECT_EQ(events & EV_RXCHAR, static_cast<DWORD>(EV_RXCHAR));
}

TEST_F(SerialAsyncTest, TheOutputDrainingIsAnEvent) {
    port.SetEventMask(EV_TXEMPTY);
    OVERLAPPED wait = Overlapped();
    DWORD events = 0;
    const BOOL already = port.WaitEventOverlapped(events, wait);
    EXPECT_FALSE(already);  // nothing was written since the mask was set
    Event written;
    OVERLAPPED write{};
    write.hEvent = written.Get();
    port.WriteOverlapped("ab", 2, write);
    DWORD transferred = 0;
    EXPECT_TRUE(Bounded(5000, [&] { return port.QueryOverlappedResult(wait, transferred, TRUE); }));
    EXPECT_EQ(events, static_cast<DWORD>(EV_TXEMPTY));
    EXPECT_TRUE(Bounded(5000, [&] { return port.QueryOverlappedResult(write, transferred, TRUE); }));
    EXPECT_EQ(reader.Received(2000), "ab");
}

// The event wait of kavexctl monitor, which never leaves its transfer
// pending behind it.

// The code a transfer ended with (0: success), or ERROR_IO_INCOMPLETE while
// it is under way.
DWORD EndOf(OVERLAPPED overlapped) {
    DWORD transferred = 0;
    return GetOverlappedResult(INVALID_HANDLE_VALUE, &overlapped, &transferred, FALSE) ? 0 : GetLastError();
}

TEST_F(SerialAsyncTest, AnEventWaitEndsWithItsEventsNotWithItsEventAlone) {
    port.SetEventMask(EV_RXCHAR);
    OverlappedEventWait wait(port, event.Get());
    ASSERT_FALSE(wait.Start());
    SetEvent(event.Get());  // as a stop signal sets it
    EXPECT_FALSE(wait.Ended());
    reader.Send("1");
    for (Stopwatch clock; !wait.Ended() && clock.ElapsedMs() < 5000;) WaitForSingleObject(event.Get(), 100);
    EXPECT_FALSE(wait.Pending());
    EXPECT_EQ(wait.Events(), static_cast<DWORD>(EV_RXCHAR));

    // Cancelled, it has ended when Cancel returns, and the port stays open.
    char byte = 0;
    port.SetImmediateReadTimeouts();
    OVERLAPPED read = Overlapped();
    ASSERT_TRUE(port.ReadOverlapped(&byte, 1, read));  // Wine reports EV_RXCHAR again while it is unread
    ASSERT_FALSE(wait.Start());
    wait.Cancel();
    EXPECT_FALSE(wait.Pending());
    EXPECT_EQ(EndOf(*wait.Overlapped()), ERROR_OPERATION_ABORTED);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialAsyncTest, AnEventWaitThatCannotBeCancelledIsEndedByClosingThePortFirst) {
    port.SetEventMask(EV_RXCHAR);
    OverlappedEventWait wait(port, event.Get());
    ASSERT_FALSE(wait.Start());
    {
        CCancelIoLoader withoutEntry("KERNEL32.DLL", "NoCancelIoHere");
        LoaderInPlace inPlace(withoutEntry);
        EXPECT_EQ(SerialErrorOf([&] { wait.Cancel(); }), ERROR_CALL_NOT_IMPLEMENTED);
    }
    // When the error comes, the port is closed and the wait has ended: its
    // OVERLAPPED and mask may go.
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(wait.Pending());
    const DWORD end = EndOf(*wait.Overlapped());
    EXPECT_NE(end, static_cast<DWORD>(ERROR_IO_INCOMPLETE));
#ifndef _WIN32  // the code a closed handle's transfers end with is the driver's
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
#endif
    EXPECT_EQ(wait.Events(), 0u);

    // Left pending as an exception goes by, it ends the same way before its
    // storage goes (the memory checkers would see a later write to it).
    OpenOverlapped(port, 3);
    port.SetEventMask(EV_RXCHAR);
    {
        OverlappedEventWait abandoned(port, event.Get());
        ASSERT_FALSE(abandoned.Start());
    }
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
