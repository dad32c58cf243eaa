// kavexctl simulate: play a card reader on a pseudo-terminal, so that a host
// program can be tried without a reader.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kavexctl/commands.h"
#include "kavexctl/options.h"

#ifdef _WIN32

namespace kavexctl {

void PrintSimulateUsage(FILE* out) {
    std::fprintf(out, "usage: kavexctl simulate [--port COMn] [--gap MS] [CODE...]\n\nLinux only.\n");
}

int RunSimulate(int, char**) {
    std::fprintf(stderr,
                 "kavexctl simulate: needs Linux pseudo-terminals; on Windows use a virtual COM port pair "
                 "(e.g. com0com) and send the codes from its other end.\n");
    return kExitUnavailable;
}

}  // namespace kavexctl

#else

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include "kavexctl/port_names.h"
#include "kavexctl/signals.h"
#include "kavexctl/simulated_reader.h"

namespace kavexctl {

void PrintSimulateUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl simulate [--port COMn] [--gap MS] [--digits N] [--noise] [--baud B]\n"
                 "                         [CODE...]\n"
                 "\n"
                 "Plays a card reader: creates a pseudo-terminal, maps it as COMn (default COM1) under\n"
                 "$KAVEX_PREFIX (a new private directory when KAVEX_PREFIX is not set) and sends each\n"
                 "card code framed as a reader frames it (0x02, digits, CR LF) at 1200 baud.\n"
                 "\n"
                 "  CODE...     codes of 1 to 50 digits; they are sent once a host has opened the port,\n"
                 "              MS milliseconds apart (--gap, default 1000), then the reader stays until\n"
                 "              Ctrl-C. Without codes, each line typed on standard input is sent.\n"
                 "  --digits N  play a reader of N-digit codes (1 to 50; an eight-digit reader: 8): it\n"
                 "              sends the last N digits of each code, zeros in front of a shorter one\n"
                 "  --noise     play a reader whose bytes arrive as noise, as at a wrong baud rate\n"
                 "  --baud B    the reader's line speed, 300 to 115200 (default 1200). A host that opens\n"
                 "              the port at another speed receives noise, as from a real reader.\n"
                 "\n"
                 "example:  kavexctl simulate --port COM2 0123456789\n"
                 "          (other shell) export KAVEX_PREFIX=...; kavexctl read COM2\n"
                 "          kavexctl simulate --port COM2 --digits 8 0123456789   (sends 23456789)\n"
                 "          (other shell) kavexctl monitor COM2\n");
}

namespace {

std::string DescribeKind(const ReaderKind& kind) {
    std::string text = kind.digits == 0 ? "codes as given" : std::to_string(kind.digits) + "-digit codes";
    if (kind.noisy) text += ", sent as noise";
    return text;
}

// Sends one code; says once when the host listens at another speed.
bool SendCode(SimulatedReader& reader, const std::string& code, const std::atomic<bool>& stop) {
    static bool told = false;
    const unsigned hostBaud = reader.HostBaud();
    if (!told && hostBaud != 0 && hostBaud != reader.Kind().baud) {
        std::printf("The host has the port at %u baud and this reader sends at %u baud: it receives noise.\n",
                    hostBaud, reader.Kind().baud);
        told = true;
    }
    return reader.Send(code, &stop);
}

// Waits up to `ms` for the stop signal; true when it came.
bool WaitForStop(const StopSignals& signals, int ms) {
    pollfd entry{signals.WakeDescriptor(), POLLIN, 0};
    return poll(&entry, 1, ms) > 0 || signals.Stopped();
}

// Sends the codes given as arguments once a host has opened the port.
void SendArguments(SimulatedReader& reader, const std::vector<std::string>& codes, int gapMs,
                   const StopSignals& signals, const std::atomic<bool>& stop, const char* portName) {
    std::printf("Waiting for a host to open %s ...\n", portName);
    std::fflush(stdout);
    while (!reader.HostHasOpened()) {
        if (WaitForStop(signals, 50)) return;
    }
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i > 0 && WaitForStop(signals, gapMs)) return;
        if (!SendCode(reader, codes[i], stop)) return;
        std::printf("sent %s\n", codes[i].c_str());
        std::fflush(stdout);
    }
    std::printf("All codes sent; Ctrl-C ends the simulated reader.\n");
    std::fflush(stdout);
    while (!WaitForStop(signals, 1000)) {
    }
}

// Sends each line of standard input as a code.
void SendLines(SimulatedReader& reader, const StopSignals& signals, const std::atomic<bool>& stop) {
    std::printf("Type a card code and press Enter to send it; Ctrl-D or Ctrl-C ends.\n");
    std::fflush(stdout);
    std::string line;
    for (;;) {
        pollfd entries[2] = {{STDIN_FILENO, POLLIN, 0}, {signals.WakeDescriptor(), POLLIN, 0}};
        if (poll(entries, 2, -1) < 0 && errno != EINTR) return;
        if (signals.Stopped() || entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        char chunk[256];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) return;  // end of input
        line.append(chunk, static_cast<size_t>(n));
        if (line.size() > 4096 && line.find('\n') == std::string::npos) line.clear();  // not a code
        for (size_t end; (end = line.find('\n')) != std::string::npos; line.erase(0, end + 1)) {
            std::string code = line.substr(0, end);
            while (!code.empty() && (code.back() == '\r' || code.back() == ' ' || code.back() == '\t'))
                code.pop_back();
            code.erase(0, code.find_first_not_of(" \t"));
            if (code.empty()) continue;
            if (!SimulatedReader::IsValidCode(code)) {
                std::printf("not sent: a card code is 1 to 50 digits\n");
            } else if (SendCode(reader, code, stop)) {
                std::printf("sent %s\n", code.c_str());
            }
            std::fflush(stdout);
        }
    }
}

}  // namespace

int RunSimulate(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs("simulate", argc, argv,
                   {{"port", true}, {"gap", true}, {"digits", true}, {"noise", false}, {"baud", true}},
                   &args)) {
        return kExitUsage;
    }
    if (args.help) {
        PrintSimulateUsage(stdout);
        return kExitOk;
    }
    const std::string portName = args.Value("port", "COM1");
    long gapMs = 1000;
    if (args.Has("gap") && !ParseNumber(args.Value("gap"), 0, 600000, &gapMs)) {
        std::fprintf(stderr, "kavexctl simulate: --gap takes milliseconds, 0 to 600000\n");
        return kExitUsage;
    }
    ReaderKind kind;
    long number = 0;
    if (args.Has("digits")) {
        if (!ParseNumber(args.Value("digits"), 1, 50, &number)) {
            std::fprintf(stderr, "kavexctl simulate: --digits takes the code length, 1 to 50\n");
            return kExitUsage;
        }
        kind.digits = static_cast<int>(number);
    }
    kind.noisy = args.Has("noise");
    if (args.Has("baud")) {
        if (!ParseNumber(args.Value("baud"), 1, 115200, &number) ||
            !SimulatedReader::IsKnownBaud(static_cast<unsigned>(number))) {
            std::fprintf(stderr,
                         "kavexctl simulate: --baud takes a line speed: 300, 600, 1200, 2400, 4800, 9600, "
                         "19200, 38400, 57600 or 115200\n");
            return kExitUsage;
        }
        kind.baud = static_cast<unsigned>(number);
    }
    for (const std::string& code : args.operands) {
        if (!SimulatedReader::IsValidCode(code)) {
            std::fprintf(stderr, "kavexctl simulate: '%s' is not a card code (1 to 50 digits)\n",
                         code.c_str());
            return kExitUsage;
        }
    }
    const std::vector<std::string>& codes = args.operands;
    const int portNumber = PortNumberUpToNine("simulate", portName.c_str());
    if (portNumber == 0) return kExitUsage;

    // A private prefix when the user has none, removed again at the end.
    std::string prefix;
    bool privatePrefix = false;
    if (const char* set = std::getenv("KAVEX_PREFIX"); set != nullptr && *set != '\0') {
        prefix = set;
    } else {
        char pattern[] = "/tmp/kavex-sim-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::fprintf(stderr, "kavexctl simulate: cannot create a directory in /tmp: %s\n",
                         std::strerror(errno));
            return kExitFailure;
        }
        prefix = pattern;
        privatePrefix = true;
    }

    std::atomic<bool> stop{false};
    StopSignals signals([&stop] { stop = true; });
    int result = kExitOk;
    try {
        SimulatedReader reader(prefix, portNumber, kind);
        std::printf(
            "Simulated card reader on COM%d (%s): %s, %u baud.\n"
            "In the shell of the host program:\n"
            "  export KAVEX_PREFIX=%s\n"
            "then open COM%d, for example: kavexctl read COM%d\n",
            portNumber, reader.DevicePath().c_str(), DescribeKind(kind).c_str(), kind.baud, prefix.c_str(),
            portNumber, portNumber);
        std::fflush(stdout);
        char portLabel[8];
        std::snprintf(portLabel, sizeof portLabel, "COM%d", portNumber);
        if (!codes.empty()) {
            SendArguments(reader, codes, static_cast<int>(gapMs), signals, stop, portLabel);
        } else {
            SendLines(reader, signals, stop);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kavexctl simulate: %s\n", error.what());
        result = kExitFailure;
    }
    if (privatePrefix) {
        std::error_code ignored;
        std::filesystem::remove_all(prefix, ignored);
    }
    return result;
}

}  // namespace kavexctl

#endif
