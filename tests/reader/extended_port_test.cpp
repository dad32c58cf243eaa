#include <gtest/gtest.h>

#include "kavex.h"
#include "reader/port_set.h"
#include "support/fake_reader.h"

using kavex::test::FakeReader;
using kavex::test::TestPrefix;

namespace {

class ExtendedPortTest : public ::testing::Test {
protected:
    void TearDown() override { CloseComEx(); }
    TestPrefix prefix;
    FakeReader reader{prefix, 2};
};

TEST_F(ExtendedPortTest, OpenSetsUpAReaderLine) {
    ASSERT_EQ(OpenComEx("COM2", 12345), 1);
    ASSERT_TRUE(g_ComPortEx.IsOpen());
#ifndef _WIN32
    const termios line = reader.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B1200));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_FALSE(line.c_lflag & ICANON);
#endif

    COMMTIMEOUTS timeouts{};
    g_ComPortEx.GetTimeouts(timeouts);
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);

    char buffer[4];
    EXPECT_EQ(g_ComPortEx.Read(buffer, 4), 0u);  // returns at once, nothing waiting
    // The other ports are independent of the extended one.
    EXPECT_FALSE(g_ComPort.IsOpen());
}

TEST_F(ExtendedPortTest, APortWhoseDeviceWentAwayFailsToCloseButIsReleased) {
#ifdef _WIN32
    GTEST_SKIP() << "the Wine tier's reader lines cannot be unplugged";
#endif
    ASSERT_EQ(OpenComEx("COM2", 0), 1);
    reader.Disconnect();
    EXPECT_EQ(CloseComEx(), 0);  // the purge fails on a device that is gone
    EXPECT_FALSE(g_ComPortEx.IsOpen());
    EXPECT_EQ(CloseComEx(), 1);  // nothing is held any more
}

TEST_F(ExtendedPortTest, OnlyTheFourthCharacterOfTheNameCounts) {
    EXPECT_EQ(OpenComEx("LPT2", 0), 1);
    EXPECT_EQ(CloseComEx(), 1);
    EXPECT_EQ(PortNumberFromName("COM12"), 1);
    EXPECT_EQ(PortNumberFromName("COM9"), 9);
    EXPECT_EQ(PortNumberFromName("COM"), -48);
    EXPECT_EQ(PortNumberFromName("\xB0\xB0\xB0\x80"), -176);
}

TEST_F(ExtendedPortTest, BadNamesOpenNothing) {
    EXPECT_EQ(OpenComEx(nullptr, 0), 0);
    const char shortName[3] = {'C', 'O', '\0'};  // nothing may be read past it
    EXPECT_EQ(OpenComEx(shortName, 0), 0);
    EXPECT_EQ(OpenComEx("COM", 0), 0);
    EXPECT_EQ(OpenComEx("", 0), 0);
    EXPECT_EQ(OpenComEx("COM0", 0), 0);
    EXPECT_FALSE(g_ComPortEx.IsOpen());
}

TEST_F(ExtendedPortTest, AMissingOrHeldPortGivesZero) {
    prefix.Link(5, prefix.Path() + "/unplugged");
    EXPECT_EQ(OpenComEx("COM5", 0), 0);
    EXPECT_FALSE(g_ComPortEx.IsOpen());
#ifdef _WIN32
    GTEST_SKIP() << "Wine does not refuse a second open of a held serial device; tested natively";
#endif

    CSerialPort holder;
    holder.Open(2, 9600, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::None, FALSE);
    EXPECT_EQ(OpenComEx("COM2", 0), 0);
    EXPECT_FALSE(g_ComPortEx.IsOpen());
    holder.Close();
    EXPECT_EQ(OpenComEx("COM2", 0), 1);
}

TEST_F(ExtendedPortTest, OpeningTwiceReopens) {
    ASSERT_EQ(OpenComEx("COM2", 0), 1);
    EXPECT_EQ(OpenComEx("COM2", 0), 1);
    EXPECT_TRUE(g_ComPortEx.IsOpen());
}

TEST_F(ExtendedPortTest, ClosePurgesAndReleasesThePort) {
    ASSERT_EQ(OpenComEx("COM2", 0), 1);
    reader.Send("12345");
    ASSERT_TRUE(reader.WaitForPending(5));
    EXPECT_EQ(CloseComEx(), 1);
    EXPECT_FALSE(g_ComPortEx.IsOpen());
    EXPECT_EQ(reader.Pending(), 0);  // the input queue was cleared

    CSerialPort other;  // the device is free again
    EXPECT_NO_THROW(
        other.Open(2, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::XonXoff, FALSE));
}

TEST_F(ExtendedPortTest, ClosingWhatIsNotOpenSucceeds) {
    EXPECT_EQ(CloseComEx(), 1);
    ASSERT_EQ(OpenComEx("COM2", 0), 1);
    EXPECT_EQ(CloseComEx(), 1);
    EXPECT_EQ(CloseComEx(), 1);
}

TEST_F(ExtendedPortTest, VersionIsTwentyWhateverThePorts) {
    EXPECT_EQ(GetIDVersion(), 20);
    ASSERT_EQ(OpenComEx("COM2", 0), 1);
    EXPECT_EQ(GetIDVersion(), 20);
}

TEST(ModuleTest, LoadsWithEveryPortClosedAndTheApplicationObjectInPlace) {
    EXPECT_EQ(CWinApp::Current(), &g_KavexApp);
    EXPECT_EQ(g_KavexApp.m_pszAppName, nullptr);
    for (CSerialPort* port : {&g_ComPort, &g_FurtherComPort1, &g_FurtherComPort2, &g_FurtherComPort3,
                              &g_FurtherComPort4, &g_ComPortEx}) {
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(port->m_hPort, INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(FurtherComPort(1), &g_FurtherComPort1);
    EXPECT_EQ(FurtherComPort(4), &g_FurtherComPort4);
    EXPECT_EQ(FurtherComPort(0), nullptr);
    EXPECT_EQ(FurtherComPort(5), nullptr);
    // The application object's message map is empty and chains to its base.
    const CMessageMap* map = g_KavexApp.GetMessageMap();
    EXPECT_EQ(map->lpEntries[0].handler, nullptr);
    EXPECT_EQ(map->pfnGetBaseMap(), CWinApp::GetThisMessageMap());
}

}  // namespace
