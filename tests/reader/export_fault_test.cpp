// The exported functions that load the port configuration (OpenCom,
// CloseCom, GetOtherCardCode) with the Nth file operation, or the Nth heap
// allocation, of the call failing, for every N the call reaches: the result
// is 0 or success, nothing leaves the function but its result, the file is
// never changed, and once the ports are closed the process holds what it
// held before.
//
// The configuration names COM2 for the primary reader and COM3 for further
// reader 1; COM1, where the defaults would put the primary reader, has no
// device, so an open that fell back to the defaults gives 0.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kavex.h"
#include "reader/port_set.h"
#include "support/config_dir.h"
#include "support/fake_reader.h"
#include "support/fault_sweep.h"

using kavex::test::ConfigDirectory;
using kavex::test::FakeReader;
using kavex::test::FaultRun;
using kavex::test::FaultSweep;
using kavex::test::TestPrefix;

namespace {

constexpr char kCode[] = "0123456789";

CSerialPort* const kEveryPort[] = {&g_ComPort,         &g_FurtherComPort1, &g_FurtherComPort2,
                                   &g_FurtherComPort3, &g_FurtherComPort4, &g_ComPortEx};

class ExportFaultTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        prefix.Link(1, prefix.Path() + "/no-such-device");
        kavex::test::WritePortConfig(directory, 2, {3, 0, 0, 0});
        image = directory.ReadConfigBytes();
    }
    void TearDown() override { CloseEveryPort(); }

    static void CloseEveryPort() {
        for (CSerialPort* port : kEveryPort) {
            CloseComPort(*port);
            port->Close();
        }
    }
    static int OpenPorts() {
        int open = 0;
        for (CSerialPort* port : kEveryPort) open += port->IsOpen() ? 1 : 0;
        return open;
    }

    // The sweeps of the three calls, each checked as described above;
    // `sweep` runs one of them with the faults of the test.
    template <class Sweep>
    void SweepTheExports(Sweep sweep);

    TestPrefix prefix;
    FakeReader primary{prefix, 2};
    FakeReader further{prefix, 3};
    ConfigDirectory directory;
    std::string image;
};

template <class Sweep>
void ExportFaultTest::SweepTheExports(Sweep sweepWith) {
    int result = -1;
    bool primaryOpen = false;
    int left = 0;

    // OpenCom(NULL): 1 only with the configured primary reader open.
    FaultSweep open;
    open.attempt = [&] { result = OpenCom(nullptr); };
    open.finish = [&] {
        primaryOpen = g_ComPort.IsOpen();
        CloseEveryPort();
    };
    open.check = [&](const FaultRun& run) {
        EXPECT_EQ(run.escaped, "") << "an exception left OpenCom";
        EXPECT_TRUE(result == 0 || result == 1) << result;
        if (run.injected == 0) {
            EXPECT_EQ(result, 1);
        }
        if (result == 1) {
            EXPECT_TRUE(primaryOpen);
        }
        EXPECT_EQ(directory.ReadConfigBytes(), image);
    };
    {
        SCOPED_TRACE("OpenCom");
        sweepWith(open);
    }

    // CloseCom(): 1 with every configured reader closed.
    FaultSweep close;
    close.prepare = [&] { ASSERT_EQ(OpenCom(nullptr), 1); };
    close.attempt = [&] { result = CloseCom(); };
    close.finish = [&] {
        left = OpenPorts();
        CloseEveryPort();
    };
    close.check = [&](const FaultRun& run) {
        EXPECT_EQ(run.escaped, "") << "an exception left CloseCom";
        EXPECT_TRUE(result == 0 || result == 1) << result;
        if (run.injected == 0) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(left, 0);
        }
        EXPECT_EQ(directory.ReadConfigBytes(), image);
    };
    {
        SCOPED_TRACE("CloseCom");
        sweepWith(close);
    }

    // GetOtherCardCode(code, 1): 1 with the code, else 0 and the buffer
    // untouched.
    char code[16];
    FaultSweep other;
    other.prepare = [&] {
        ASSERT_EQ(OpenCom(nullptr), 1);
        further.Send(kCode);
        ASSERT_TRUE(further.WaitForPending(10));
        std::memset(code, 'X', sizeof code);
    };
    other.attempt = [&] { result = GetOtherCardCode(code, 1); };
    other.finish = [] { CloseEveryPort(); };
    other.check = [&](const FaultRun& run) {
        EXPECT_EQ(run.escaped, "") << "an exception left GetOtherCardCode";
        EXPECT_TRUE(result == 0 || result == 1) << result;
        if (run.injected == 0) {
            EXPECT_EQ(result, 1);
        }
        if (result == 1) {
            EXPECT_EQ(std::string(code, 10), kCode);
        } else {
            for (char c : code) ASSERT_EQ(c, 'X');
        }
        EXPECT_EQ(directory.ReadConfigBytes(), image);
    };
    {
        SCOPED_TRACE("GetOtherCardCode");
        sweepWith(other);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, ExportFaultTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "FailingFromThenOn" : "FailingOnce";
                         });

TEST_P(ExportFaultTest, AFailingDiskGivesZeroOrSuccessAndLeavesNothingBehind) {
    kavex::posix::faults::FileFaultPlan plan;
    plan.persistent = GetParam();
    SweepTheExports([&](const FaultSweep& sweep) { kavex::test::SweepFileFaults(plan, sweep); });
}

#ifdef KAVEX_HAVE_ALLOCATION_FAULTS
TEST_P(ExportFaultTest, AFailingAllocationGivesZeroOrSuccessAndLeavesNothingBehind) {
    SweepTheExports([&](const FaultSweep& sweep) { kavex::test::SweepAllocationFaults(GetParam(), sweep); });
}
#endif

}  // namespace

#endif  // !_WIN32
