// Running the built kavexctl as a child process, as the people who install
// readers run it (POSIX).
#pragma once

#include <filesystem>
#include <string>

namespace kavex::test {

struct ToolRun {
    int exitCode;     // -1 when the command could not be run or did not exit
    std::string out;  // standard output and standard error, as they came
};

// The kavexctl of this build (tools/ beside the test program's directory),
// or an empty path when it was not built.
std::filesystem::path BuiltKavexctl();

// Runs `tool` with `arguments` (shell words, quoted by the caller) after
// `runner` (a command that runs another, such as timeout) when one is given.
ToolRun RunTool(const std::filesystem::path& tool, const std::string& arguments,
                const std::string& runner = "");

}  // namespace kavex::test
