// kavexctl as a person runs it: the built executable in a child process,
// loading the built shared library, against a reader the test plays.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"

using kavex::test::FakeReader;
using kavex::test::SleepMs;
using kavex::test::Stopwatch;
using kavex::test::TestPrefix;

namespace {

// The kavexctl of this build tree: tests/kavex_tests -> tools/kavexctl.
std::string KavexctlPath() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const auto path = self.parent_path().parent_path() / "tools" / "kavexctl";
    return std::filesystem::exists(path, error) ? path.string() : std::string();
}

// A kavexctl child process with its output on pipes; killed if still running
// at the end.
class Kavexctl {
public:
    explicit Kavexctl(const std::vector<std::string>& args, std::string program = KavexctlPath()) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        // Everything the child needs is prepared before fork: the test
        // process has threads, so the child may only exec.
        std::vector<char*> argv;
        argv.push_back(program.data());
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            const int devNull = open("/dev/null", O_RDONLY);
            dup2(devNull, STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Kavexctl() {
        if (pid_ > 0 && exitCode_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    Kavexctl(const Kavexctl&) = delete;
    Kavexctl& operator=(const Kavexctl&) = delete;

    void Signal(int signal) const { kill(pid_, signal); }

    // The exit code, or -1 when the child did not end within limitMs (it is
    // then killed).
    int Wait(int limitMs) {
        Stopwatch clock;
        while (exitCode_ < 0) {
            Drain(20);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (clock.ElapsedMs() > limitMs) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                exitCode_ = 999;
                return -1;
            }
        }
        Drain(0);
        return exitCode_;
    }

    // Waits up to limitMs for standard output to contain `text`.
    bool WaitForOutput(const std::string& text, int limitMs) {
        Stopwatch clock;
        while (out.find(text) == std::string::npos) {
            if (clock.ElapsedMs() > limitMs) return false;
            Drain(20);
        }
        return true;
    }

    std::string out, err;

private:
    void Drain(int waitMs) {
        pollfd entries[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(entries, 2, waitMs) <= 0) return;
        char chunk[4096];
        if (entries[0].revents & POLLIN) {
            const ssize_t n = read(out_, chunk, sizeof chunk);
            if (n > 0) out.append(chunk, static_cast<size_t>(n));
        }
        if (entries[1].revents & POLLIN) {
            const ssize_t n = read(err_, chunk, sizeof chunk);
            if (n > 0) err.append(chunk, static_cast<size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    int exitCode_ = -1;
};

// The line of `text` that starts with `start`, or "".
std::string LineWith(const std::string& text, const std::string& start) {
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.rfind(start, 0) == 0) return line;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

class KavexctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (KavexctlPath().empty()) GTEST_SKIP() << "kavexctl is not built beside the tests";
    }
    // Waits until a host has opened the fake reader's port (the library sets
    // the line to 1200 baud).
    static bool WaitForHostOpen(const FakeReader& reader, int limitMs) {
        for (Stopwatch clock; clock.ElapsedMs() < limitMs; SleepMs(10)) {
            const termios line = reader.LineSettings();
            if (cfgetospeed(&line) == B1200) return true;
        }
        return false;
    }

    TestPrefix prefix;  // children inherit its KAVEX_PREFIX
};

TEST_F(KavexctlTest, DemoReadsEveryCodeAndExitsZero) {
    Kavexctl demo({"demo"});
    EXPECT_EQ(demo.Wait(20000), 0) << demo.out << demo.err;
    for (const char* code : {"0012345678", "4085551234", "9876543210"}) {
        EXPECT_NE(demo.out.find(code), std::string::npos) << demo.out;
    }
    EXPECT_EQ(demo.out.find("NOT the code"), std::string::npos);
}

TEST_F(KavexctlTest, ReadPrintsCodesAndCtrlCEndsTheWaitPromptly) {
    FakeReader reader(prefix, 3);
    reader.Send("\x01\x02");  // noise before the host opens is no code
    Kavexctl read({"read", "COM3", "--length", "10"});
    ASSERT_TRUE(WaitForHostOpen(reader, 5000)) << read.err;
    reader.Send(
        "\x02"
        "1234567890\r\n\x02"
        "98765");
    EXPECT_TRUE(read.WaitForOutput("1234567890\n", 5000)) << read.out << read.err;
    SleepMs(300);  // now waiting inside GetCardCodeEx for five more digits

    Stopwatch clock;
    read.Signal(SIGINT);
    EXPECT_EQ(read.Wait(3000), 0) << read.err;
    EXPECT_LT(clock.ElapsedMs(), 2000);
    EXPECT_EQ(read.out, "1234567890\n");

    CSerialPort port;  // released for the next host
    EXPECT_NO_THROW(
        port.Open(3, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::None, FALSE));
}

TEST_F(KavexctlTest, ReadGetsTheCodesOfSimulate) {
    Kavexctl simulate({"simulate", "--port", "COM4", "--gap", "100", "5555555555", "6666666666"});
    ASSERT_TRUE(simulate.WaitForOutput("Waiting for a host", 5000)) << simulate.out << simulate.err;
    EXPECT_NE(simulate.out.find("export KAVEX_PREFIX=" + prefix.Path()), std::string::npos) << simulate.out;

    Kavexctl read({"read", "COM4", "--count", "2"});
    EXPECT_EQ(read.Wait(10000), 0) << read.err;
    EXPECT_EQ(read.out, "5555555555\n6666666666\n");

    ASSERT_TRUE(simulate.WaitForOutput("All codes sent", 5000)) << simulate.out;
    simulate.Signal(SIGTERM);
    EXPECT_EQ(simulate.Wait(3000), 0) << simulate.err;
    EXPECT_FALSE(std::filesystem::exists(prefix.Path() + "/dosdevices/com4"));  // its link is gone
}

TEST_F(KavexctlTest, BadCommandLinesAndMissingPortsSayWhatToDo) {
    Kavexctl noPort({"read"});
    EXPECT_EQ(noPort.Wait(5000), 2);
    EXPECT_NE(noPort.err.find("usage: kavexctl read"), std::string::npos);

    Kavexctl badLength({"read", "COM1", "--length", "51"});
    EXPECT_EQ(badLength.Wait(5000), 2);

    prefix.Link(1, prefix.Path() + "/unplugged");
    Kavexctl missing({"read", "COM1"});
    EXPECT_EQ(missing.Wait(5000), 3);
    EXPECT_NE(missing.err.find("kavexctl ports"), std::string::npos) << missing.err;

    // COM11 is COM1 to the library: kavexctl says so and tries COM1.
    Kavexctl above({"read", "COM11"});
    EXPECT_EQ(above.Wait(5000), 3);
    EXPECT_NE(above.err.find("COM11 opens COM1"), std::string::npos) << above.err;
    EXPECT_NE(above.err.find("port configuration file"), std::string::npos) << above.err;

    Kavexctl badCode({"simulate", "12a4"});
    EXPECT_EQ(badCode.Wait(5000), 2);
}

TEST_F(KavexctlTest, EveryCommandTakesItsOptionsInEitherFormAndHasHelp) {
    // "--opt=value" and "--opt value" are the same option, before or after
    // the operands.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read", "COM1", "--length=51"}, {"read", "--length", "51", "COM1"}}) {
        Kavexctl run(args);
        EXPECT_EQ(run.Wait(5000), 2);
        EXPECT_NE(run.err.find("--length takes 1 to 50 digits"), std::string::npos) << run.err;
    }
    Kavexctl missingValue({"read", "COM1", "--count"});
    EXPECT_EQ(missingValue.Wait(5000), 2);
    EXPECT_NE(missingValue.err.find("--count needs a value"), std::string::npos) << missingValue.err;
    Kavexctl unknown({"config", "show", "--file=x", "--colour"});
    EXPECT_EQ(unknown.Wait(5000), 2);
    EXPECT_NE(unknown.err.find("kavexctl config show: unknown option '--colour'"), std::string::npos)
        << unknown.err;

    for (const char* command : {"demo", "read", "simulate", "ports", "config"}) {
        Kavexctl help({"help", command});
        EXPECT_EQ(help.Wait(5000), 0) << command;
        EXPECT_NE(help.out.find(std::string("usage: kavexctl ") + command), std::string::npos) << help.out;
        Kavexctl option({command, "--help"});
        EXPECT_EQ(option.Wait(5000), 0) << command;
        EXPECT_EQ(option.out, help.out) << command;
    }
    Kavexctl version({"--version"});
    EXPECT_EQ(version.Wait(5000), 0);
    EXPECT_EQ(version.out.rfind("kavexctl ", 0), 0u) << version.out;
}

TEST_F(KavexctlTest, PortsShowsMappedPortsAndWhetherTheyCanBeOpened) {
    FakeReader reader(prefix, 2);
    prefix.Link(5, prefix.Path() + "/unplugged");
    {
        Kavexctl ports({"ports"});
        EXPECT_EQ(ports.Wait(5000), 0) << ports.err;
        const std::string com2 = LineWith(ports.out, "COM2 ");
        EXPECT_NE(com2.find(reader.DevicePath() + " (link)"), std::string::npos) << ports.out;
        EXPECT_EQ(com2.substr(com2.size() - 3), " ok") << ports.out;
        EXPECT_NE(LineWith(ports.out, "COM5 ").find("no such device"), std::string::npos) << ports.out;
    }
    CSerialPort holder;
    holder.Open(2, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::None, FALSE);
    Kavexctl ports({"ports"});
    EXPECT_EQ(ports.Wait(5000), 0);
    EXPECT_NE(LineWith(ports.out, "COM2 ").find("busy"), std::string::npos) << ports.out;
}

TEST_F(KavexctlTest, ReadConfigOpensTheReadersOfTheFileBesideTheExecutable) {
    // An installer's try-out: kavexctl copied beside a host's configuration.
    namespace fs = std::filesystem;
    const fs::path built = KavexctlPath();
    const fs::path host = prefix.Path() + "/host";
    fs::create_directories(host);
    fs::copy_file(built, host / "kavexctl");
    fs::copy_file(built.parent_path().parent_path() / "libkavex.so.1", host / "libkavex.so.1");
    const std::string config = (host / "ipportconfig.ini").string();
    Kavexctl set({"config", "set", "--file", config, "PrimaryPort=2", "FurtherPorts=3,0,0,0"});
    ASSERT_EQ(set.Wait(5000), 0) << set.err;

    FakeReader primary(prefix, 2);
    FakeReader further(prefix, 3);
    Kavexctl read({"read", "--config", "--count", "2"}, (host / "kavexctl").string());
    ASSERT_TRUE(WaitForHostOpen(primary, 5000)) << read.err;
    ASSERT_TRUE(WaitForHostOpen(further, 5000)) << read.err;
    primary.Send(
        "\x02"
        "1111122222\r\n");
    further.Send(
        "\x02"
        "3333344444\r\n");
    EXPECT_EQ(read.Wait(5000), 0) << read.err;
    EXPECT_NE(read.out.find("primary  1111122222\n"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("reader 1 3333344444\n"), std::string::npos) << read.out;
    EXPECT_NE(read.err.find("Primary reader on COM2, reader 1 on COM3"), std::string::npos) << read.err;

    CSerialPort port;  // CloseCom released both readers
    EXPECT_NO_THROW(
        port.Open(3, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::None, FALSE));
}

TEST_F(KavexctlTest, LibraryOptionTriesTheChosenLibraryBeforeKavexLibrary) {
    // A support person's try-out of one particular library file.
    namespace fs = std::filesystem;
    const fs::path client = prefix.Path() + "/client";
    fs::create_directories(client);
    fs::copy_file(fs::path(KavexctlPath()).parent_path().parent_path() / "libkavex.so",
                  client / "libkavex.so");
    const std::string chosen = fs::canonical(client / "libkavex.so").string();
    const std::string missing = prefix.Path() + "/nowhere/libkavex.so";

    ASSERT_EQ(setenv("KAVEX_LIBRARY", missing.c_str(), 1), 0);
    Kavexctl notFound({"read", "COM2"});
    EXPECT_EQ(notFound.Wait(5000), 3);
    EXPECT_NE(notFound.err.find(missing + ": "), std::string::npos) << notFound.err;
    EXPECT_NE(notFound.err.find("--library PATH"), std::string::npos) << notFound.err;

    FakeReader reader(prefix, 2);
    Kavexctl read({"read", "COM2", "--count", "1", "--library=" + chosen});
    ASSERT_TRUE(WaitForHostOpen(reader, 5000)) << read.err;
    reader.Send(
        "\x02"
        "2468013579\r\n");
    EXPECT_EQ(read.Wait(5000), 0) << read.err;
    unsetenv("KAVEX_LIBRARY");
    EXPECT_EQ(read.out, "2468013579\n");
    EXPECT_NE(read.err.find("from COM2 through " + chosen + ";"), std::string::npos) << read.err;
}

// The hex of every byte line of monitor's output ("     48 ms  02  STX"),
// in order, each followed by a space.
std::string MonitoredHex(const std::string& out) {
    std::string hex;
    for (size_t at = out.find(" ms  "); at != std::string::npos; at = out.find(" ms  ", at + 1)) {
        hex += out.substr(at + 5, 2) + " ";
    }
    return hex;
}

// Runs `kavexctl monitor` on COM3 against `kavexctl simulate` sending one
// code, and returns monitor's output once it has judged a burst.
std::string MonitorOneCode(std::vector<std::string> simulateArgs, std::vector<std::string> monitorArgs) {
    simulateArgs.insert(simulateArgs.begin(), {"simulate", "--port", "COM3"});
    simulateArgs.push_back("0123456789");
    Kavexctl simulate(simulateArgs);
    EXPECT_TRUE(simulate.WaitForOutput("Waiting for a host", 5000)) << simulate.out << simulate.err;
    monitorArgs.insert(monitorArgs.begin(), {"monitor", "COM3"});
    Kavexctl monitor(monitorArgs);
    // A verdict comes whole: monitor writes each burst's verdicts at once.
    EXPECT_TRUE(monitor.WaitForOutput(" bytes: ", 8000)) << monitor.out << monitor.err;
    // Ctrl-C ends the wait under way at once.
    Stopwatch clock;
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(3000), 0) << monitor.err;
    EXPECT_LT(clock.ElapsedMs(), 2000);
    CSerialPort port;  // and the port is released
    EXPECT_NO_THROW(
        port.Open(3, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::None, FALSE));
    port.Close();
    simulate.Signal(SIGTERM);
    EXPECT_EQ(simulate.Wait(3000), 0) << simulate.err;
    return monitor.out;
}

TEST_F(KavexctlTest, MonitorShowsEveryByteInOrderAndKnowsAStandardReader) {
    const std::string out = MonitorOneCode({}, {});
    EXPECT_EQ(MonitoredHex(out), "02 30 31 32 33 34 35 36 37 38 39 0D 0A ") << out;
    EXPECT_NE(out.find("  02  STX\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  35  5\n"), std::string::npos) << out;
    EXPECT_NE(out.find("-- 13 bytes: 0x02, 10 digits, CR LF: a standard reader\n"), std::string::npos) << out;
}

TEST_F(KavexctlTest, MonitorTellsAnEightDigitReaderWhichLengthToRead) {
    const std::string out = MonitorOneCode({"--digits", "8"}, {});
    EXPECT_EQ(MonitoredHex(out), "02 32 33 34 35 36 37 38 39 0D 0A ") << out;
    EXPECT_NE(out.find("-- 11 bytes: 8 digits: use `kavexctl read --length 8`\n"), std::string::npos) << out;
}

TEST_F(KavexctlTest, MonitorTakesNoiseForAWrongBaudRate) {
    for (const auto& simulateArgs :
         {std::vector<std::string>{"--noise"}, std::vector<std::string>{"--baud", "9600"}}) {
        const std::string out = MonitorOneCode(simulateArgs, {});
        const std::string hex = MonitoredHex(out);
        EXPECT_EQ(hex.size(), 13u * 3) << out;
        EXPECT_EQ(hex.find(" 3"), std::string::npos) << out;  // no digit among them
        EXPECT_NE(
            out.find("-- 13 bytes: bytes that are not digits: wrong baud rate or another kind of reader?\n"),
            std::string::npos)
            << out;
    }
    // At the reader's own speed the code comes through; --hex drops the text.
    const std::string out = MonitorOneCode({"--baud", "9600"}, {"--baud", "9600", "--hex"});
    EXPECT_EQ(MonitoredHex(out), "02 30 31 32 33 34 35 36 37 38 39 0D 0A ") << out;
    EXPECT_EQ(out.find("STX"), std::string::npos) << out;
    EXPECT_NE(out.find(": a standard reader\n"), std::string::npos) << out;
}

TEST_F(KavexctlTest, MonitorStopsAfterItsSecondsAndRefusesBadArguments) {
    FakeReader reader(prefix, 2);
    Stopwatch clock;
    Kavexctl timed({"monitor", "COM2", "--seconds", "1"});
    EXPECT_EQ(timed.Wait(5000), 0) << timed.err;
    EXPECT_GE(clock.ElapsedMs(), 900);
    EXPECT_EQ(timed.out, "");

    // A reader unplugged while monitored ends the command with a failure.
    FakeReader unpluggedReader(prefix, 6);
    Kavexctl unplugged({"monitor", "COM6"});
    ASSERT_TRUE(WaitForHostOpen(unpluggedReader, 5000)) << unplugged.err;
    unpluggedReader.Disconnect();
    EXPECT_EQ(unplugged.Wait(5000), 1);
    EXPECT_NE(unplugged.err.find("reader unplugged?"), std::string::npos) << unplugged.err;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"monitor"},
                                                 {"monitor", "COM2", "--seconds", "0"},
                                                 {"monitor", "COM2", "--baud", "x"},
                                                 {"monitor", "COM2", "COM3"},
                                                 {"monitor", "COM2", "--parity"}}) {
        Kavexctl bad(args);
        EXPECT_EQ(bad.Wait(5000), 2) << args.back();
    }
    prefix.Link(5, prefix.Path() + "/unplugged");
    Kavexctl missing({"monitor", "COM5"});
    EXPECT_EQ(missing.Wait(5000), 3);
    EXPECT_NE(missing.err.find("cannot open COM5"), std::string::npos) << missing.err;
}

TEST_F(KavexctlTest, MonitorSaysWhenThePortRefusesTheLineSettings) {
    // The driver takes no such speed: the port opens, its settings fail, and
    // monitor lets it go before it looks at why (it is not busy).
    FakeReader reader(prefix, 2);
    Kavexctl refused({"monitor", "COM2", "--baud", "1234"});
    EXPECT_EQ(refused.Wait(5000), 1) << refused.err;
    EXPECT_NE(refused.err.find("opened but refused the line settings (error 87)"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find("busy"), std::string::npos) << refused.err;
    CSerialPort port;  // and it is free again
    EXPECT_NO_THROW(
        port.Open(2, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::None, FALSE));
}
}  // namespace

#endif
