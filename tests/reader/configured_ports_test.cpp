#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "kavex.h"
#include "reader/configured_ports.h"
#include "reader/port_set.h"
#include "support/config_dir.h"
#include "support/fake_reader.h"

using kavex::test::ConfigDirectory;
using kavex::test::FakeReader;
using kavex::test::TestPrefix;

namespace {

// A handle value that names no object: every call on it fails.
HANDLE BrokenHandle() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7ff0)); }

class ConfiguredPortsTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (CSerialPort* port :
             {&g_ComPort, &g_FurtherComPort1, &g_FurtherComPort2, &g_FurtherComPort3, &g_FurtherComPort4}) {
            if (port->m_hPort == BrokenHandle()) port->m_hPort = INVALID_HANDLE_VALUE;
            port->Close();
        }
    }

    FakeReader& Reader(int port) {
        auto& reader = readers[port];
        if (!reader) reader = std::make_unique<FakeReader>(prefix, port);
        return *reader;
    }

    void Configure(int primary, std::array<int, 4> further) {
        kavex::test::WritePortConfig(configDir, primary, further);
    }

    TestPrefix prefix;
    ConfigDirectory configDir;
    std::array<std::unique_ptr<FakeReader>, 10> readers;
};

TEST_F(ConfiguredPortsTest, WithoutAConfigurationANullNameOpensCom1Only) {
    Reader(1);
    Reader(2);
    EXPECT_EQ(OpenCom(nullptr), 1);
    EXPECT_TRUE(g_ComPort.IsOpen());
    for (int type = 1; type <= 4; ++type) EXPECT_FALSE(FurtherComPort(type)->IsOpen()) << type;

    char code[11];
    EXPECT_EQ(GetOtherCardCode(code, 1), 0);  // no further reader is configured
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_FALSE(g_ComPort.IsOpen());
}

TEST_F(ConfiguredPortsTest, ANullNameTakesThePrimaryPortFromTheConfiguration) {
    Reader(3);
    Configure(3, {0, 0, 0, 0});
    EXPECT_EQ(OpenCom(nullptr), 1);
    Reader(3).Send("1234567890");
    ASSERT_TRUE(Reader(3).WaitForPending(10));
    char code[11] = {};
    EXPECT_EQ(GetCardCode(code), 1);
    EXPECT_STREQ(code, "1234567890");
}

TEST_F(ConfiguredPortsTest, FurtherReadersOnThePrimarysPortAreSkipped) {
    for (int port : {3, 4}) Reader(port);
    Configure(1, {3, 4, 0, 0});
    EXPECT_EQ(OpenCom("COM3"), 1);
    EXPECT_FALSE(g_FurtherComPort1.IsOpen());
    EXPECT_TRUE(g_FurtherComPort2.IsOpen());
    EXPECT_FALSE(g_FurtherComPort3.IsOpen());
    EXPECT_FALSE(g_FurtherComPort4.IsOpen());
    EXPECT_TRUE(g_ComPort.IsOpen());

    // Reader 1's port object was never opened, so it has no code to give.
    char code[11];
    EXPECT_EQ(GetOtherCardCode(code, 1), 0);
    Reader(4).Send("5555566666");
    ASSERT_TRUE(Reader(4).WaitForPending(10));
    EXPECT_EQ(GetOtherCardCode(code, 2), 1);
    EXPECT_EQ(std::string(code, 10), "5555566666");

    EXPECT_EQ(CloseCom(), 1);
    EXPECT_FALSE(g_FurtherComPort2.IsOpen());
    EXPECT_FALSE(g_ComPort.IsOpen());
}

TEST_F(ConfiguredPortsTest, OnlyTheFourthCharacterOfTheNameCounts) {
    Reader(1);
    EXPECT_EQ(OpenCom("COM12"), 1);
    Reader(1).Send("1111122222");
    ASSERT_TRUE(Reader(1).WaitForPending(10));
    char code[11] = {};
    EXPECT_EQ(GetCardCode(code), 1);

    const char shortName[3] = {'C', 'O', '\0'};
    EXPECT_EQ(OpenCom(shortName), 0);
}

TEST_F(ConfiguredPortsTest, OnlyThePrimaryReaderDecidesTheResult) {
    Reader(1);
    Reader(2);
    prefix.Link(7, prefix.Path() + "/unplugged");
    Configure(1, {7, 2, 0, 0});
    EXPECT_EQ(OpenCom("COM1"), 1);  // further reader 1 failed silently
    EXPECT_FALSE(g_FurtherComPort1.IsOpen());
    EXPECT_TRUE(g_FurtherComPort2.IsOpen());
    EXPECT_EQ(CloseCom(), 1);

    EXPECT_EQ(OpenCom("COM7"), 0);  // the primary cannot open
    EXPECT_FALSE(g_ComPort.IsOpen());
    EXPECT_TRUE(g_FurtherComPort2.IsOpen());  // and the further reader stays open
}

TEST_F(ConfiguredPortsTest, AReaderHeldByAnEarlierOpenCannotBecomeThePrimary) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine does not refuse a second open of a held serial device; tested natively";
#endif
    Reader(1);
    Reader(2);
    Configure(1, {2, 0, 0, 0});
    ASSERT_EQ(OpenCom("COM1"), 1);
    ASSERT_TRUE(g_FurtherComPort1.IsOpen());

    // Further reader 1 is skipped now (same port as the primary) and keeps
    // the device, so the primary cannot have it.
    EXPECT_EQ(OpenCom("COM2"), 0);
    EXPECT_TRUE(g_FurtherComPort1.IsOpen());
}

TEST_F(ConfiguredPortsTest, TwoFurtherReadersOnOnePortLeaveTheSecondClosed) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine does not refuse a second open of a held serial device; tested natively";
#endif
    Reader(1);
    Reader(2);
    Configure(1, {2, 2, 0, 0});
    EXPECT_EQ(OpenCom("COM1"), 1);
    EXPECT_TRUE(g_FurtherComPort1.IsOpen());
    EXPECT_FALSE(g_FurtherComPort2.IsOpen());
}

TEST_F(ConfiguredPortsTest, CloseComWithNothingOpenSucceeds) {
    EXPECT_EQ(CloseCom(), 1);
    Configure(1, {2, 3, 4, 5});
    EXPECT_EQ(CloseCom(), 1);
}

TEST_F(ConfiguredPortsTest, AFailingPrimaryCloseLeavesTheFurtherReadersOpen) {
    Reader(1);
    Reader(2);
    Configure(1, {2, 0, 0, 0});
    ASSERT_EQ(OpenCom("COM1"), 1);
    g_ComPort.Close();
    g_ComPort.m_hPort = BrokenHandle();
    EXPECT_EQ(CloseCom(), 0);
    EXPECT_TRUE(g_FurtherComPort1.IsOpen());
}

TEST_F(ConfiguredPortsTest, CloseComStopsAtTheFirstFurtherReaderThatFails) {
    Reader(1);
    Reader(2);
    Reader(4);
    Configure(1, {2, 3, 4, 0});
    ASSERT_EQ(OpenCom("COM1"), 1);
    ASSERT_TRUE(g_FurtherComPort3.IsOpen());
    g_FurtherComPort1.Close();
    g_FurtherComPort1.m_hPort = BrokenHandle();
    EXPECT_EQ(CloseCom(), 0);
    EXPECT_FALSE(g_ComPort.IsOpen());
    EXPECT_TRUE(g_FurtherComPort3.IsOpen());
}

TEST_F(ConfiguredPortsTest, CloseComFollowsTheConfigurationAsItReadsNow) {
    Reader(1);
    Reader(2);
    Reader(3);
    Configure(1, {2, 3, 0, 0});
    ASSERT_EQ(OpenCom("COM1"), 1);
    Configure(1, {2, 0, 0, 0});
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_FALSE(g_FurtherComPort1.IsOpen());
    EXPECT_TRUE(g_FurtherComPort2.IsOpen());  // its entry has become 0
}

TEST_F(ConfiguredPortsTest, OtherCardCodeChecksTheReaderAndItsConfiguredPort) {
    Reader(1);
    Reader(2);
    Configure(1, {2, 0, 0, 0});
    ASSERT_EQ(OpenCom("COM1"), 1);
    Reader(2).Send("9876543210");
    ASSERT_TRUE(Reader(2).WaitForPending(10));

    char code[11];
    std::memset(code, 'x', sizeof code);
    EXPECT_EQ(GetOtherCardCode(code, 0), 0);
    EXPECT_EQ(GetOtherCardCode(code, 5), 0);
    EXPECT_EQ(GetOtherCardCode(code, 2), 0);  // reader 2 is not configured
    EXPECT_EQ(GetOtherCardCode(nullptr, 1), 0);
    EXPECT_EQ(code[0], 'x');
    EXPECT_EQ(Reader(2).Pending(), 10);  // nothing was read

    EXPECT_EQ(GetOtherCardCode(code, 1), 1);
    EXPECT_EQ(std::string(code, 10), "9876543210");
    EXPECT_EQ(code[10], 'x');  // a whole code leaves byte 10 as it was
}

// Nothing of the configuration is kept between calls: a file rewritten in
// place (same size, same moment) between two calls is what the second
// reads, and a file that no longer verifies is no configuration at all.
TEST_F(ConfiguredPortsTest, OtherCardCodeReadsTheConfigurationAtEveryCall) {
    Reader(1);
    Reader(2);
    Reader(3);
    Configure(1, {0, 3, 0, 0});
    const std::string secondOnCom3 = configDir.ReadConfigBytes();
    Configure(1, {2, 3, 0, 0});
    const std::string bothReaders = configDir.ReadConfigBytes();
    ASSERT_EQ(OpenCom("COM1"), 1);
    ASSERT_TRUE(g_FurtherComPort1.IsOpen());
    Reader(2).Send("1111111111");
    ASSERT_TRUE(Reader(2).WaitForPending(10));

    char code[11] = {};
    configDir.WriteConfigBytes(secondOnCom3);
    EXPECT_EQ(GetOtherCardCode(code, 1), 0);  // reader 1 has no port now
    EXPECT_EQ(Reader(2).Pending(), 10);
    configDir.WriteConfigBytes(bothReaders);
    EXPECT_EQ(GetOtherCardCode(code, 1), 1);
    EXPECT_STREQ(code, "1111111111");

    Reader(2).Send("2222222222");
    ASSERT_TRUE(Reader(2).WaitForPending(10));
    std::string corrupt = bothReaders;
    corrupt[316] = static_cast<char>(corrupt[316] ^ 0x01);
    configDir.WriteConfigBytes(corrupt);
    EXPECT_EQ(GetOtherCardCode(code, 1), 0);  // the defaults: no further readers
    configDir.RemoveConfig();
    EXPECT_EQ(GetOtherCardCode(code, 1), 0);
    EXPECT_EQ(Reader(2).Pending(), 10);
    configDir.WriteConfigBytes(bothReaders);
    EXPECT_EQ(GetOtherCardCode(code, 1), 1);
    EXPECT_STREQ(code, "2222222222");
}

TEST_F(ConfiguredPortsTest, ThePlanSkipsOnlyTheReadersOnThePrimarysPort) {
    using Further = ReaderPortPlan::Further;
    Configure(2, {3, 4, 3, 0});
    CPortConfig config;
    const ReaderPortPlan named = PlanReaderPorts(config, "COM3");
    EXPECT_EQ(named.primary, 3);
    EXPECT_EQ(named.use[0], Further::kSameAsPrimary);
    EXPECT_EQ(named.use[1], Further::kOpened);
    EXPECT_EQ(named.use[2], Further::kSameAsPrimary);
    EXPECT_EQ(named.use[3], Further::kAbsent);
    const ReaderPortPlan configured = PlanReaderPorts(config, nullptr);
    EXPECT_EQ(configured.primary, 2);
    EXPECT_EQ(configured.use[0], Further::kOpened);
    EXPECT_EQ(configured.use[2], Further::kOpened);  // two readers on one port are both attempted
    EXPECT_EQ(configured.further[1], 4);
}

}  // namespace
