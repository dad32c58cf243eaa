// The commands of kavexctl. Each takes its own arguments with argv[0] its
// name ("kavexctl read COM3" gives {"read", "COM3"}), parses them with
// ParseArgs (options.h), and returns the process exit code (see ExitCode).
// Each also prints its help on request.
#pragma once

#include <cstdio>

namespace kavexctl {

// Exit codes scripts can rely on.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,      // the operation failed (port busy, file invalid, ...)
    kExitUsage = 2,        // the command line was wrong
    kExitUnavailable = 3,  // the library or a device could not be reached
};

int RunRead(int argc, char** argv);
int RunSimulate(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunPorts(int argc, char** argv);
int RunConfig(int argc, char** argv);
int RunMonitor(int argc, char** argv);
int RunSettings(int argc, char** argv);

void PrintReadUsage(FILE* out);
void PrintSimulateUsage(FILE* out);
void PrintDemoUsage(FILE* out);
void PrintPortsUsage(FILE* out);
void PrintConfigUsage(FILE* out);
void PrintMonitorUsage(FILE* out);
void PrintSettingsUsage(FILE* out);

}  // namespace kavexctl
