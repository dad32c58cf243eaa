// kavexctl monitor: the raw bytes of a reader's line as they arrive, and
// after each burst what they say about the reader.
//
// The exported functions have no raw read, so this command drives the
// library's serial port object itself: it opens the port as the library
// opens a reader port (1200 baud 8N1, XON/XOFF, 10000-byte queues, reads
// that return at once), but for overlapped I/O, waits for EV_RXCHAR with
// WaitEventOverlapped, takes what the input queue holds (ClearCommError's
// count) with ReadOverlapped and learns
// through QueryOverlappedResult when a wait has ended. Between the waits it
// watches the clock: a pause of 20 byte times (at least 100 ms) ends a burst.
// Ctrl-C, or the end of --seconds, cancels the pending wait with
// CancelPendingIo and closes the port.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kavexctl/burst_verdict.h"
#include "kavexctl/commands.h"
#include "kavexctl/options.h"
#include "kavexctl/port_names.h"
#include "kavexctl/port_probe.h"
#include "kavexctl/signals.h"
#include "serial/overlapped_event_wait.h"
#include "serial/serial_exception.h"
#include "serial/serial_port.h"

namespace kavexctl {

namespace {

using Clock = std::chrono::steady_clock;

struct MonitorOptions {
    std::string port;
    bool hexOnly = false;
    long seconds = 0;  // 0: until Ctrl-C
    long baud = 1200;
};

}  // namespace

void PrintMonitorUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl monitor COMn [--hex] [--seconds S] [--baud B]\n"
                 "\n"
                 "Opens COMn as the library opens a reader port and prints every byte as it arrives:\n"
                 "the milliseconds since the port opened, the byte in hex and as text (STX, CR, LF, ...).\n"
                 "After each burst it says what it saw in a reader's terms, for example\n"
                 "  0x02, 10 digits, CR LF: a standard reader\n"
                 "  8 digits: use `kavexctl read --length 8`\n"
                 "  bytes that are not digits: wrong baud rate or another kind of reader?\n"
                 "Ctrl-C stops.\n"
                 "\n"
                 "  --hex        the bytes in hex only, without the text column\n"
                 "  --seconds S  stop after S seconds (1 to 86400)\n"
                 "  --baud B     open the line at B baud instead of the library's 1200, to find a\n"
                 "               reader's speed (any rate the serial driver takes)\n"
                 "\n"
                 "Exit codes: 0 done, 1 the port failed, 2 bad arguments, 3 port not available.\n");
}

namespace {

constexpr int kGoOn = -1;

// The command line: kGoOn, or the exit code to end with.
int ParseMonitorArgs(int argc, char** argv, MonitorOptions* options) {
    ParsedArgs args;
    if (!ParseArgs("monitor", argc, argv, {{"hex", false}, {"seconds", true}, {"baud", true}}, &args)) {
        return kExitUsage;
    }
    if (args.help) {
        PrintMonitorUsage(stdout);
        return kExitOk;
    }
    options->hexOnly = args.Has("hex");
    if (args.Has("seconds") && !ParseNumber(args.Value("seconds"), 1, 86400, &options->seconds)) {
        std::fprintf(stderr, "kavexctl monitor: --seconds takes 1 to 86400\n");
        return kExitUsage;
    }
    if (args.Has("baud") && !ParseNumber(args.Value("baud"), 1, 4000000, &options->baud)) {
        std::fprintf(stderr, "kavexctl monitor: --baud takes a line speed such as 1200 or 9600\n");
        return kExitUsage;
    }
    if (args.operands.size() > 1) {
        std::fprintf(stderr, "kavexctl monitor: one port only ('%s' is extra)\n", args.operands[1].c_str());
        return kExitUsage;
    }
    if (args.operands.empty()) {
        PrintMonitorUsage(stderr);
        return kExitUsage;
    }
    options->port = args.operands[0];
    return kGoOn;
}

// A manual-reset event, closed with its owner.
class Event {
public:
    Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// The byte as text: printable ASCII as it is, control characters by name.
std::string ByteText(unsigned char byte) {
    static const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX",  "EOT", "ENQ", "ACK", "BEL",
                                                  "BS",  "HT",  "LF",  "VT",   "FF",  "CR",  "SO",  "SI",
                                                  "DLE", "XON", "DC2", "XOFF", "DC4", "NAK", "SYN", "ETB",
                                                  "CAN", "EM",  "SUB", "ESC",  "FS",  "GS",  "RS",  "US"};
    if (byte < 32) return kControlNames[byte];
    if (byte == 127) return "DEL";
    if (byte > 127) return ".";
    return std::string(1, static_cast<char>(byte));
}

class Monitor {
public:
    Monitor(CSerialPort& port, const MonitorOptions& options, StopSignals& signals, HANDLE wake)
        : port_(port), options_(options), signals_(signals), wake_(wake) {
        // Twenty byte times of silence end a burst; a byte is ten bits.
        const long byteMs = 10000 / options.baud + 1;
        gapMs_ = byteMs * 20 < 100 ? 100 : byteMs * 20;
    }

    // Until a stop; a failing port throws its serial error. The wait is
    // never left pending: a stop cancels it, and when it cannot be cancelled
    // (or anything else throws meanwhile) the port is closed and the wait's
    // end awaited before its storage goes (serial/overlapped_event_wait.h).
    void Run() {
        const Clock::time_point deadline = opened_ + std::chrono::seconds(options_.seconds);
        kavex::serial::OverlappedEventWait wait(port_, wake_);
        while (!signals_.Stopped()) {
            if (options_.seconds > 0 && Clock::now() >= deadline) break;
            bool ended = wait.Start();
            while (!ended) {
                if (options_.seconds > 0 && Clock::now() >= deadline) signals_.Trigger();
                if (signals_.Stopped()) {
                    wait.Cancel();
                    break;
                }
                if (WaitForSingleObject(wake_, WaitMs()) == WAIT_OBJECT_0) ended = wait.Ended();
                if (!ended) EndBurstAfterPause();
            }
            // A wait can end with nothing to read (a driver that reports
            // unread bytes again): the pause still ends the burst.
            if (ended && !TakeWhatHasCome()) {
                EndBurstAfterPause();
                Sleep(5);  // and such a wait is not made again at once
            }
        }
        EndBurst();
    }

private:
    DWORD WaitMs() const {
        if (burst_.empty()) return 100;
        const long quiet = MsSince(lastByte_);
        return quiet >= gapMs_ ? 1 : static_cast<DWORD>(gapMs_ - quiet);
    }

    static long MsSince(Clock::time_point then) {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count());
    }

    // Reads what the input queue holds, asking for exactly that many bytes
    // (a read of an empty queue would be left pending by some drivers).
    // True when bytes came.
    bool TakeWhatHasCome() {
        unsigned char buffer[256];
        Event done;
        bool any = false;
        for (;;) {
            COMSTAT status{};
            port_.ClearErrors(status);
            if (status.cbInQue == 0) return any;
            const DWORD wanted = status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer;
            OVERLAPPED read{};
            read.hEvent = done.Get();
            DWORD received = 0;
            port_.ReadOverlapped(buffer, wanted, read);
            port_.QueryOverlappedResult(read, received, TRUE);
            if (received == 0) return any;
            any = true;
            for (DWORD i = 0; i < received; ++i) Show(buffer[i]);
        }
    }

    void Show(unsigned char byte) {
        lastByte_ = Clock::now();
        burst_.push_back(static_cast<char>(byte));
        if (options_.hexOnly) {
            std::printf("%8ld ms  %02X\n", MsSince(opened_), byte);
        } else {
            std::printf("%8ld ms  %02X  %s\n", MsSince(opened_), byte, ByteText(byte).c_str());
        }
        std::fflush(stdout);
    }

    void EndBurstAfterPause() {
        if (!burst_.empty() && MsSince(lastByte_) >= gapMs_) EndBurst();
    }

    void EndBurst() {
        if (burst_.empty()) return;
        for (const std::string& verdict : JudgeBurst(burst_)) {
            std::printf("-- %lu bytes: %s\n", static_cast<unsigned long>(burst_.size()), verdict.c_str());
        }
        std::fflush(stdout);
        burst_.clear();
    }

    CSerialPort& port_;
    const MonitorOptions& options_;
    StopSignals& signals_;
    HANDLE wake_;
    long gapMs_ = 100;
    const Clock::time_point opened_ = Clock::now();
    Clock::time_point lastByte_ = opened_;
    std::string burst_;
};

int ReportOpenFailure(const char* name, int portNumber, DWORD error) {
    const PortProbe probe = ProbePort(portNumber);
    std::string where = probe.device;
    if (probe.mapped) where += " (dosdevices link)";
    if (probe.state == PortState::kBusy) {
        std::fprintf(stderr, "kavexctl monitor: %s (%s) is busy: another program has it open.\n", name,
                     where.c_str());
        return kExitFailure;
    }
    if (probe.state == PortState::kOk) {
        std::fprintf(stderr, "kavexctl monitor: %s (%s) opened but refused the line settings (error %lu).\n",
                     name, where.c_str(), static_cast<unsigned long>(error));
        return kExitFailure;
    }
    std::fprintf(stderr, "kavexctl monitor: cannot open %s (%s): %s.\n'kavexctl ports' lists the ports.\n",
                 name, where.c_str(), Describe(probe).c_str());
    return kExitUnavailable;
}

}  // namespace

int RunMonitor(int argc, char** argv) {
    MonitorOptions options;
    if (const int exitCode = ParseMonitorArgs(argc, argv, &options); exitCode != kGoOn) return exitCode;
    const int portNumber = PortNumberForHost("monitor", options.port.c_str());
    if (portNumber == 0) return kExitUsage;

    Event wake;  // the pending wait's event; a stop signal sets it too
    const HANDLE wakeHandle = wake.Get();
    StopSignals signals([wakeHandle] { SetEvent(wakeHandle); });

    CSerialPort port;
    try {
        port.Open(portNumber, static_cast<DWORD>(options.baud), SerialParity::None, 8, SerialStopBits::One,
                  SerialFlowControl::XonXoff, TRUE);
        port.SetQueueSizes(10000, 10000);
        port.DisableWriteTimeouts();
        port.SetImmediateReadTimeouts();
        port.SetEventMask(EV_RXCHAR);
    } catch (CSerialException* error) {
        const DWORD code = error->m_dwErrorCode;
        error->Delete();
        // An open that got the device keeps it even when the settings then
        // fail: released first, or the probe would find it busy with us.
        port.Close();
        return ReportOpenFailure(options.port.c_str(), portNumber, code);
    }
    std::fprintf(stderr, "Monitoring COM%d at %ld baud, 8N1, XON/XOFF; Ctrl-C stops.\n", portNumber,
                 options.baud);

    int result = kExitOk;
    try {
        Monitor monitor(port, options, signals, wakeHandle);
        monitor.Run();
    } catch (CSerialException* error) {
        if (error->m_dwErrorCode == ERROR_CALL_NOT_IMPLEMENTED) {
            // The system has no CancelIo: the wait was ended by closing the port.
            std::fprintf(stderr,
                         "kavexctl monitor: COM%d: the pending wait cannot be cancelled here (error %lu)\n",
                         portNumber, static_cast<unsigned long>(error->m_dwErrorCode));
        } else {
            std::fprintf(stderr, "kavexctl monitor: COM%d failed (error %lu); reader unplugged?\n",
                         portNumber, static_cast<unsigned long>(error->m_dwErrorCode));
        }
        error->Delete();
        result = kExitFailure;
    }
    port.Close();
    return result;
}

}  // namespace kavexctl
