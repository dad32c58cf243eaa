#include "support/child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "platform/win32.h"
#include "support/reader_timing.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/module_path.h"

extern char** environ;
#endif

namespace kavex::test {

namespace {

constexpr char kRoleVariable[] = "KAVEX_CHILD_ROLE";
constexpr char kArgumentsVariable[] = "KAVEX_CHILD_ARGUMENTS";
constexpr char kModuleVariable[] = "KAVEX_CHILD_MODULE_PATH";
constexpr char kSeparator = '\x1F';
// A role's result r (0 .. 63) is the exit code kRoleRan + r, so that a
// child in which no role ran (the test program exits 0) is not taken for
// one that succeeded.
constexpr int kRoleRan = 64;
constexpr int kNoRoleRan = 200;

int ResultOf(int exitCode) {
    if (exitCode >= kRoleRan && exitCode < kRoleRan + 64) return exitCode - kRoleRan;
    return exitCode == 0 ? kNoRoleRan : exitCode;
}

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

std::string Joined(const std::vector<std::string>& arguments) {
    std::string joined;
    for (std::size_t k = 0; k < arguments.size(); ++k)
        joined += (k ? std::string(1, kSeparator) : "") + arguments[k];
    return joined;
}

std::vector<std::string> Split(const std::string& joined) {
    std::vector<std::string> parts;
    if (joined.empty()) return parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = joined.find(kSeparator, start);
        parts.push_back(joined.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string SelfPath() {
    char path[4096] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
#ifndef _WIN32
    // The real program, not a host path a test has set.
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
#endif
    return path;
}

const char* const kFilter = "--gtest_filter=ChildProcess.Role";

}  // namespace

bool RegisterChildRole(const char* name, ChildRole role) {
    Roles()[name] = role;
    return true;
}

#ifdef _WIN32
ChildProcess::ChildProcess(const std::string& role, const std::vector<std::string>& arguments) {
    SetEnvironmentVariableA(kRoleVariable, role.c_str());
    SetEnvironmentVariableA(kArgumentsVariable, Joined(arguments).c_str());
    std::string command = "\"" + SelfPath() + "\" " + kFilter + " --gtest_brief=1";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
    }
    SetEnvironmentVariableA(kRoleVariable, nullptr);
    SetEnvironmentVariableA(kArgumentsVariable, nullptr);
}

ChildProcess::~ChildProcess() {
    if (process_ == nullptr) return;
    if (exitCode_ < 0) Kill();
    CloseHandle(process_);
}

bool ChildProcess::Started() const { return process_ != nullptr; }

int ChildProcess::Wait(int limitMs) {
    if (process_ == nullptr) return -1;
    if (exitCode_ >= 0) return exitCode_;
    if (WaitForSingleObject(process_, static_cast<DWORD>(limitMs)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exitCode_ = ResultOf(static_cast<int>(code));
    return exitCode_;
}

void ChildProcess::Kill() {
    if (process_ == nullptr || exitCode_ >= 0) return;
    TerminateProcess(process_, 137);
    Wait(10000);
}
#else
ChildProcess::ChildProcess(const std::string& role, const std::vector<std::string>& arguments) {
    const std::string self = SelfPath();
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind(kRoleVariable, 0) != 0 && text.rfind(kArgumentsVariable, 0) != 0 &&
            text.rfind(kModuleVariable, 0) != 0) {
            environment.push_back(text);
        }
    }
    environment.push_back(std::string(kRoleVariable) + "=" + role);
    environment.push_back(std::string(kArgumentsVariable) + "=" + Joined(arguments));
    char module[4096] = {};
    if (GetModuleFileNameA(nullptr, module, sizeof module) > 0) {
        environment.push_back(std::string(kModuleVariable) + "=" + module);
    }
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::string filter = kFilter, brief = "--gtest_brief=1";
    std::vector<char*> argv = {const_cast<char*>(self.c_str()), filter.data(), brief.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && exitCode_ < 0) Kill();
}

bool ChildProcess::Started() const { return pid_ > 0; }

int ChildProcess::Wait(int limitMs) {
    if (pid_ <= 0) return -1;
    if (exitCode_ >= 0) return exitCode_;
    Stopwatch clock;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitCode_ = WIFEXITED(status) ? ResultOf(WEXITSTATUS(status)) : 128 + WTERMSIG(status);
            return exitCode_;
        }
        if (done < 0 || clock.ElapsedMs() > limitMs) return -1;
        SleepMs(5);
    }
}

void ChildProcess::Kill() {
    if (pid_ <= 0 || exitCode_ >= 0) return;
    kill(pid_, SIGKILL);
    Wait(10000);
}
#endif

int RunChild(const std::string& role, const std::vector<std::string>& arguments, int limitMs) {
    ChildProcess child(role, arguments);
    return child.Wait(limitMs);
}

}  // namespace kavex::test

// The child's side, run only by a child process (CTest does not list it).
TEST(ChildProcess, Role) {
    const char* role = std::getenv("KAVEX_CHILD_ROLE");
    if (role == nullptr) GTEST_SKIP() << "not a child process";
#ifndef _WIN32
    if (const char* module = std::getenv("KAVEX_CHILD_MODULE_PATH"))
        kavex::posix::OverrideModuleFileName(module);
#endif
    const char* joined = std::getenv("KAVEX_CHILD_ARGUMENTS");
    auto& roles = kavex::test::Roles();
    const auto found = roles.find(role);
    if (found == roles.end()) std::exit(100);
    const int result = found->second(kavex::test::Split(joined != nullptr ? joined : ""));
    std::exit(kavex::test::kRoleRan + (result >= 0 && result < 64 ? result : 63));
}
