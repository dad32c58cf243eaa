// kavexctl: read card codes, simulate a reader, list ports, edit the port
// configuration file and the registration settings, and monitor a reader's
// line.
#include <cstdio>
#include <cstring>

#include "kavexctl/commands.h"

#ifndef KAVEX_VERSION
#define KAVEX_VERSION "unknown"
#endif

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**);
    void (*usage)(FILE*);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"demo", kavexctl::RunDemo, kavexctl::PrintDemoUsage,
     "read a few codes from a built-in simulated reader"},
    {"read", kavexctl::RunRead, kavexctl::PrintReadUsage, "print card codes as a reader sends them"},
    {"simulate", kavexctl::RunSimulate, kavexctl::PrintSimulateUsage,
     "play a card reader on a pseudo-terminal"},
    {"ports", kavexctl::RunPorts, kavexctl::PrintPortsUsage, "list the COM ports of this machine"},
    {"config", kavexctl::RunConfig, kavexctl::PrintConfigUsage, "show or change the port configuration file"},
    {"monitor", kavexctl::RunMonitor, kavexctl::PrintMonitorUsage,
     "show the raw bytes of a reader's line and what they say"},
    {"settings", kavexctl::RunSettings, kavexctl::PrintSettingsUsage,
     "locate, show, change or create the registration settings"},
};

const Command* FindCommand(const char* name) {
    for (const Command& command : kCommands) {
        if (std::strcmp(name, command.name) == 0) return &command;
    }
    return nullptr;
}

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl COMMAND [ARGS...]\n"
                 "       kavexctl help COMMAND | --help | --version\n\n"
                 "Tool for the Kavex card-reader library: try readers, read card codes and edit the\n"
                 "configuration files, as a host program of the library would.\n\ncommands:\n");
    for (const Command& command : kCommands) std::fprintf(out, "  %-9s %s\n", command.name, command.summary);
    std::fprintf(out,
                 "\nRun 'kavexctl help COMMAND' for a command's options. Exit codes: 0 done, 1 the\n"
                 "operation failed, 2 bad command line, 3 library or device not available.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kavexctl::kExitUsage;
    }
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        PrintUsage(stdout);
        return kavexctl::kExitOk;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("kavexctl %s\n", KAVEX_VERSION);
        return kavexctl::kExitOk;
    }
    if (std::strcmp(first, "help") == 0) {
        if (argc < 3) {
            PrintUsage(stdout);
            return kavexctl::kExitOk;
        }
        if (const Command* command = FindCommand(argv[2])) {
            command->usage(stdout);
            return kavexctl::kExitOk;
        }
        std::fprintf(stderr, "kavexctl: unknown command '%s'\n\n", argv[2]);
        PrintUsage(stderr);
        return kavexctl::kExitUsage;
    }
    if (const Command* command = FindCommand(first)) return command->run(argc - 1, argv + 1);
    std::fprintf(stderr, "kavexctl: unknown command '%s'\n\n", first);
    PrintUsage(stderr);
    return kavexctl::kExitUsage;
}
