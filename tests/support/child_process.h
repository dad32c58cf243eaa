// Another process of the test program itself, for tests that need a second
// process of the library: a fresh one, which has set up nothing yet.
//
// The child runs the test program again with only the test
// ChildProcess.Role selected (which the test lists of CTest leave out); that test looks up `role` among the
// roles registered with KAVEX_CHILD_ROLE and exits with its result. It
// inherits the environment (so the KAVEX_PREFIX) and, on POSIX, the host
// executable path a SettingsEnvironment has set.
#pragma once

#include <string>
#include <vector>

namespace kavex::test {

using ChildRole = int (*)(const std::vector<std::string>& arguments);

// Registers a role under its name; the macro below does it at start-up.
bool RegisterChildRole(const char* name, ChildRole role);

#define KAVEX_CHILD_ROLE(name)                                       \
    int ChildRole_##name(const std::vector<std::string>& arguments); \
    [[maybe_unused]] const bool kRegistered_##name =                 \
        ::kavex::test::RegisterChildRole(#name, ChildRole_##name);   \
    int ChildRole_##name(const std::vector<std::string>& arguments)

class ChildProcess {
public:
    ChildProcess(const std::string& role, const std::vector<std::string>& arguments);
    ~ChildProcess();  // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // The role's result (0 .. 63), 200 when no role ran, 128 + signal for
    // a killed child, or -1 when the child did not end within limitMs.
    int Wait(int limitMs);
    // Ends the child at once, as a crash would (no clean-up of its own).
    void Kill();

private:
#ifdef _WIN32
    void* process_ = nullptr;
#else
    int pid_ = -1;
#endif
    int exitCode_ = -1;
};

// Runs a child to its end: its exit code, or -1 on a time-out.
int RunChild(const std::string& role, const std::vector<std::string>& arguments, int limitMs = 60000);

}  // namespace kavex::test
