#ifndef _WIN32
#include "support/tool_run.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace kavex::test {

std::filesystem::path BuiltKavexctl() {
    const std::filesystem::path tool =
        std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "tools" / "kavexctl";
    return std::filesystem::exists(tool) ? tool : std::filesystem::path();
}

ToolRun RunTool(const std::filesystem::path& tool, const std::string& arguments, const std::string& runner) {
    const std::string command = runner + "'" + tool.string() + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, ""};
    std::string out;
    std::array<char, 512> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

}  // namespace kavex::test
#endif
