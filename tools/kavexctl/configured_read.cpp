#include "kavexctl/configured_read.h"

#include <cstdio>
#include <string>

#include "config/port_config.h"
#include "kavexctl/commands.h"
#include "kavexctl/library.h"
#include "kavexctl/signals.h"
#include "platform/win32.h"
#include "reader/configured_ports.h"

namespace kavexctl {

namespace {

constexpr DWORD kPollMs = 100;

// What the library will find and open: kavexctl is the host, so the file it
// reads is the one beside kavexctl, and OpenCom follows the plan that
// PlanReaderPorts gives for it. Shown so an installer knows which file counts.
void DescribeConfiguration() {
    CPortConfig config;
    char path[MAX_PATH] = {};
    const bool present = config.GetConfigPath(path) != FALSE;
    if (path[0] == '\0') {
        std::fprintf(stderr, "The path of the configuration file is too long; using COM1 only.\n");
        return;
    }
    const bool valid = present && config.Load();
    if (!present) {
        std::fprintf(stderr, "No %s: the library uses COM1 and no further readers.\n", path);
    } else if (!valid) {
        std::fprintf(stderr,
                     "%s is not valid (wrong length or checksum): the library uses COM1 and no\n"
                     "further readers. 'kavexctl config show --file %s' says more.\n",
                     path, path);
    }
    const ReaderPortPlan plan = PlanReaderPorts(config, nullptr);
    std::fprintf(stderr, "Primary reader on COM%d", plan.primary);
    for (int k = 0; k < kFurtherReaderCount; ++k) {
        switch (plan.use[k]) {
            case ReaderPortPlan::Further::kOpened:
                std::fprintf(stderr, ", reader %d on COM%d", k + 1, plan.further[k]);
                break;
            case ReaderPortPlan::Further::kSameAsPrimary:
                std::fprintf(stderr, ", reader %d not opened (COM%d is the primary's port)", k + 1,
                             plan.further[k]);
                break;
            case ReaderPortPlan::Further::kAbsent: break;
        }
    }
    std::fprintf(stderr, " (from %s).\n", valid ? path : "the defaults");
}

}  // namespace

int RunConfiguredRead(long count, const std::string& chosenLibrary) {
    KavexLibrary library(chosenLibrary);
    if (!library.LoadFor("read", {"OpenCom", "GetCardCode", "GetOtherCardCode", "CloseCom"})) {
        return kExitUnavailable;
    }
    const KavexFunctions& kavex = library.Functions();
    // Every library call here returns within about 200 ms, so Ctrl-C only
    // has to end the polling loop; the port is closed on the main thread.
    StopSignals signals([] {});

    DescribeConfiguration();
    if (kavex.OpenCom(nullptr) != 1) {
        std::fprintf(stderr,
                     "kavexctl read: the primary reader did not open (missing, busy or no permission;\n"
                     "'kavexctl ports' shows each port's state).\n");
        kavex.CloseCom();  // further readers that did open are closed again
        return kExitFailure;
    }
    std::fprintf(stderr, "Reading through %s; Ctrl-C stops.\n", library.Describe().c_str());

    long codes = 0;
    char code[11];
    while (!signals.Stopped() && (count == 0 || codes < count)) {
        bool any = false;
        code[10] = '\0';
        if (kavex.GetCardCode(code) == 1) {
            std::printf("primary  %s\n", code);
            any = true;
            ++codes;
        }
        for (int type = 1; type <= 4 && (count == 0 || codes < count); ++type) {
            code[10] = '\0';
            if (kavex.GetOtherCardCode(code, type) == 1) {
                std::printf("reader %d %s\n", type, code);
                any = true;
                ++codes;
            }
        }
        if (any) {
            std::fflush(stdout);
        } else {
            Sleep(kPollMs);
        }
    }

    if (kavex.CloseCom() != 1) {
        std::fprintf(stderr, "kavexctl read: a reader port did not close cleanly\n");
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace kavexctl
