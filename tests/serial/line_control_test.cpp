// The serial port's line control: XON/XOFF escapes, immediate characters,
// the modem-line escapes and the device properties.
#include <gtest/gtest.h>

#include <string>

#include "serial/serial_port.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"
#include "support/serial_error.h"

using kavex::test::Bounded;
using kavex::test::FakeReader;
using kavex::test::SerialErrorOf;
using kavex::test::TestPrefix;

namespace {

class LineControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        port.Open(4, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::XonXoff, TRUE);
        port.SetQueueSizes(10000, 10000);
        port.DisableWriteTimeouts();
        port.SetImmediateReadTimeouts();
    }

    TestPrefix prefix;
    FakeReader reader{prefix, 4};
    CSerialPort port;
};

TEST_F(LineControlTest, XoffHoldsTheOutputBackUntilXon) {
    port.SetXoff();
    struct XonAtTheEnd {
        CSerialPort& port;
        ~XonAtTheEnd() {
            SerialErrorOf([this] { port.SetXon(); });
        }  // the next test finds the line going
    } xonAtTheEnd{port};
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED write{};
    write.hEvent = event;
    // Held back in the driver: the write stays under way (or, where the
    // driver buffers it, completes) but nothing reaches the line.
    port.WriteOverlapped("held", 4, write);
#ifndef _WIN32  // Wine refuses an immediate character while the output is held; Windows queues it
    // An immediate character waits too, ahead of the pending output.
    port.SendImmediateChar('!');
    const std::string expected = "!held";
#else
    const std::string expected = "held";
#endif
    EXPECT_EQ(reader.Received(300), "");

    port.SetXon();
    DWORD written = 0;
    EXPECT_TRUE(Bounded(5000, [&] { return port.QueryOverlappedResult(write, written, TRUE); }));
    EXPECT_EQ(written, 4u);
    CloseHandle(event);
    std::string received = reader.Received(2000);
    while (received.size() < expected.size() && !received.empty()) received += reader.Received(500);
    EXPECT_EQ(received, expected);
}

TEST_F(LineControlTest, AnImmediateCharacterGoesOutAtOnce) {
    port.SendImmediateChar('!');
    EXPECT_EQ(reader.Received(2000), "!");
    port.SendImmediateChar('\x03');
    EXPECT_EQ(reader.Received(2000), "\x03");
}

TEST_F(LineControlTest, ModemLineEscapesNeedALineWithModemLines) {
#ifdef _WIN32
    // The Wine tier's lines answer as null-modem lines (tiocmget_shim.c).
    EXPECT_NO_THROW(port.SetDtr());
    EXPECT_NO_THROW(port.ClearDtr());
    EXPECT_NO_THROW(port.SetRts());
    EXPECT_NO_THROW(port.ClearRts());
#else
    // A pseudo-terminal has no modem lines; the driver refuses a request it
    // does not support with ERROR_INVALID_PARAMETER.
    EXPECT_EQ(SerialErrorOf([&] { port.SetDtr(); }), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SerialErrorOf([&] { port.ClearDtr(); }), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SerialErrorOf([&] { port.SetRts(); }), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SerialErrorOf([&] { port.ClearRts(); }), ERROR_INVALID_PARAMETER);
#endif
    // Break works everywhere, as SetCommBreak does; unknown functions fail.
    EXPECT_NO_THROW(port.Escape(SETBREAK));
    EXPECT_NO_THROW(port.Escape(CLRBREAK));
    EXPECT_EQ(SerialErrorOf([&] { port.Escape(0x4242); }), ERROR_INVALID_PARAMETER);

    CSerialPort closed;
    EXPECT_EQ(SerialErrorOf([&] { closed.SetXon(); }), ERROR_INVALID_HANDLE);
}

TEST_F(LineControlTest, PropertiesDescribeASerialPort) {
    COMMPROP properties{};
    port.GetProperties(properties);
    EXPECT_EQ(properties.dwServiceMask, static_cast<DWORD>(SP_SERIALCOMM));
    EXPECT_EQ(properties.dwProvSubType, static_cast<DWORD>(PST_RS232));
    EXPECT_TRUE(properties.dwSettableBaud & BAUD_1200);
    EXPECT_TRUE(properties.wSettableData & DATABITS_8);
    EXPECT_TRUE(properties.wSettableStopParity & PARITY_NONE);
#ifndef _WIN32  // Wine reports neither the packet length nor XON/XOFF, nor the queue sizes set
    EXPECT_TRUE(properties.dwProvCapabilities & PCF_XONXOFF);
    EXPECT_EQ(properties.wPacketLength, sizeof(COMMPROP));
    EXPECT_EQ(properties.dwCurrentRxQueue, 10000u);
    // No modem lines on a pseudo-terminal, so no DTR/DSR or RTS/CTS.
    EXPECT_FALSE(properties.dwProvCapabilities & (PCF_DTRDSR | PCF_RTSCTS));
#endif
}

}  // namespace
