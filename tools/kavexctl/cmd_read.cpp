// kavexctl read: print the card codes a reader sends, through the library's
// extended port (OpenComEx, GetCardCodeEx, CloseComEx).
//
// GetCardCodeEx waits, without a time-out, until the requested digits have
// come. Ctrl-C is therefore handled on a watcher thread (see signals.h) that
// calls CloseComEx while the main thread waits inside GetCardCodeEx: the
// library's way to cancel a waiting read, as any host with a Cancel button
// uses it. Every other call is serialized by `libraryLock`.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "kavexctl/commands.h"
#include "kavexctl/configured_read.h"
#include "kavexctl/library.h"
#include "kavexctl/options.h"
#include "kavexctl/port_names.h"
#include "kavexctl/port_probe.h"
#include "kavexctl/signals.h"

namespace kavexctl {

void PrintReadUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl read COMn [--length N] [--count K] [--library PATH]\n"
                 "       kavexctl read --config [--count K] [--library PATH]\n"
                 "\n"
                 "Opens COMn as the library's extended reader port and prints each card code as it\n"
                 "arrives, one per line, until Ctrl-C (or K codes).\n"
                 "\n"
                 "With --config it opens the readers as a host program does (OpenCom with no name):\n"
                 "the library takes the ports from the ipportconfig.ini beside the running executable,\n"
                 "that is, beside kavexctl itself, else COM1 alone. To try a host's configuration,\n"
                 "copy kavexctl (and the library) into the host program's directory. Each code is\n"
                 "printed with the reader it came from: primary, or further reader 1 to 4.\n"
                 "\n"
                 "  --length N  digits per code, 1 to 50 (default 10)\n"
                 "  --count K   stop after K codes\n"
                 "  --config    the readers of the port configuration file\n"
                 "  --library PATH  the library to try (default: the one beside kavexctl, then the\n"
                 "              system's search path; KAVEX_LIBRARY=PATH does the same)\n"
                 "\n"
                 "Only the fourth character of the name counts (COM10 is COM1). Without a reader,\n"
                 "run 'kavexctl simulate' in another shell. Exit codes: 0 done, 1 the port failed,\n"
                 "2 bad arguments, 3 library or port not available.\n");
}

namespace {

// Explains why COMn did not open and picks the exit code.
int ReportOpenFailure(const char* name, int portNumber) {
    const PortProbe probe = ProbePort(portNumber);
    std::string where = probe.device;
    if (probe.mapped) where += " (dosdevices link)";
    switch (probe.state) {
        case PortState::kBusy:
            std::fprintf(stderr,
                         "kavexctl read: %s (%s) is busy: another program has it open. Close that "
                         "program, or choose another port.\n",
                         name, where.c_str());
            return kExitFailure;
        case PortState::kNoPermission:
            std::fprintf(stderr,
                         "kavexctl read: no permission to open %s (%s). Add the user to the dialout "
                         "group (sudo usermod -aG dialout $USER, then log in again).\n",
                         name, where.c_str());
            return kExitUnavailable;
        case PortState::kOk:
            std::fprintf(stderr, "kavexctl read: the library could not set up %s (%s).\n", name,
                         where.c_str());
            return kExitFailure;
        default:
            std::fprintf(stderr,
                         "kavexctl read: cannot open %s (%s): %s.\n'kavexctl ports' lists the ports "
                         "of this machine; on Linux map a device with a link in $KAVEX_PREFIX/dosdevices.\n",
                         name, where.c_str(), Describe(probe).c_str());
            return kExitUnavailable;
    }
}

}  // namespace

int RunRead(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs("read", argc, argv, {{"length", true}, {"count", true}, {"config", false}, kLibraryOption},
                   &args)) {
        return kExitUsage;
    }
    if (args.help) {
        PrintReadUsage(stdout);
        return kExitOk;
    }
    long length = 10;
    long count = 0;  // no limit
    if (args.Has("length") && !ParseNumber(args.Value("length"), 1, 50, &length)) {
        std::fprintf(stderr, "kavexctl read: --length takes 1 to 50 digits\n");
        return kExitUsage;
    }
    if (args.Has("count") && !ParseNumber(args.Value("count"), 1, 1000000000, &count)) {
        std::fprintf(stderr, "kavexctl read: --count takes a number of codes, 1 or more\n");
        return kExitUsage;
    }
    if (args.operands.size() > 1) {
        std::fprintf(stderr, "kavexctl read: one port only ('%s' is extra)\n", args.operands[1].c_str());
        return kExitUsage;
    }
    if (args.Has("config")) {
        if (!args.operands.empty()) {
            std::fprintf(stderr,
                         "kavexctl read: --config takes its ports from the configuration file; "
                         "leave out '%s'\n",
                         args.operands[0].c_str());
            return kExitUsage;
        }
        return RunConfiguredRead(count, args.Value("library"));
    }
    if (args.operands.empty()) {
        PrintReadUsage(stderr);
        return kExitUsage;
    }
    const char* name = args.operands[0].c_str();
    const int portNumber = PortNumberForHost("read", name);
    if (portNumber == 0) return kExitUsage;

    KavexLibrary library(args.Value("library"));
    if (!library.LoadFor("read", {"OpenComEx", "GetCardCodeEx", "CloseComEx"})) return kExitUnavailable;
    const KavexFunctions& kavex = library.Functions();

    std::mutex libraryLock;
    bool open = false;
    StopSignals signals([&] {
        std::lock_guard<std::mutex> lock(libraryLock);
        if (open) kavex.CloseComEx();
        open = false;
    });

    {
        std::lock_guard<std::mutex> lock(libraryLock);
        if (signals.Stopped()) return kExitOk;
        if (kavex.OpenComEx(name, 0) != 1) return ReportOpenFailure(name, portNumber);
        open = true;
    }
    std::fprintf(stderr, "Reading %ld-digit codes from COM%d through %s; Ctrl-C stops.\n", length, portNumber,
                 library.Describe().c_str());

    int result = kExitOk;
    char code[51 + 1];
    for (long read = 0; count == 0 || read < count; ++read) {
        const int got = kavex.GetCardCodeEx(code, static_cast<int>(length));
        if (signals.Stopped()) break;
        if (got != length) {
            std::fprintf(stderr, "kavexctl read: COM%d stopped answering (reader unplugged?)\n", portNumber);
            result = kExitFailure;
            break;
        }
        std::printf("%s\n", code);
        std::fflush(stdout);
    }

    std::lock_guard<std::mutex> lock(libraryLock);
    if (open && kavex.CloseComEx() != 1) {
        std::fprintf(stderr, "kavexctl read: COM%d did not close cleanly\n", portNumber);
        if (result == kExitOk) result = kExitFailure;
    }
    open = false;
    return result;
}

}  // namespace kavexctl
