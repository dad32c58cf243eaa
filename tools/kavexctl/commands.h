// The subcommands of kavexctl. Each takes the arguments after its own name
// and returns the process exit code (see ExitCode).
#pragma once

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
int RunSettings(int argc, char** argv);

}  // namespace kavexctl
