// kavexctl: read card codes, simulate a reader, list ports, edit the port
// configuration file and the registration settings.
#include <cstdio>
#include <cstring>

#include "kavexctl/commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"demo", kavexctl::RunDemo, "read a few codes from a built-in simulated reader"},
    {"read", kavexctl::RunRead, "print card codes as a reader sends them"},
    {"simulate", kavexctl::RunSimulate, "play a card reader on a pseudo-terminal"},
    {"ports", kavexctl::RunPorts, "list the COM ports of this machine"},
    {"config", kavexctl::RunConfig, "show or change the port configuration file"},
    {"settings", kavexctl::RunSettings, "locate, show, change or create the registration settings"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: kavexctl COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command& command : kCommands) std::fprintf(out, "  %-9s %s\n", command.name, command.summary);
    std::fprintf(out, "\nRun 'kavexctl COMMAND --help' for a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kavexctl::kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return kavexctl::kExitOk;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "kavexctl: unknown command '%s'\n\n", argv[1]);
    PrintUsage(stderr);
    return kavexctl::kExitUsage;
}
