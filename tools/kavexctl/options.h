// The one argument parser of kavexctl's commands, over getopt_long (which
// glibc and MinGW-w64 both have): "--opt=value" and "--opt value" both work,
// options and operands may come in any order, and -h/--help asks for the
// command's help.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace kavexctl {

// One long option of a command.
struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takesValue;
};

struct ParsedArgs {
    bool help = false;                          // -h or --help was given
    std::map<std::string, std::string> values;  // the options given ("" for flags); the last one counts
    std::vector<std::string> operands;          // everything that is not an option, in order

    bool Has(const char* name) const { return values.count(name) != 0; }
    // The option's value, or `fallback` when it was not given.
    std::string Value(const char* name, const std::string& fallback = "") const;
};

// Parses a command's arguments (argv[0] is the command's name, as in
// "kavexctl read ..." -> {"read", ...}). False, with a message naming
// `command` printed on stderr, for an unknown option or a missing value.
bool ParseArgs(const char* command, int argc, char** argv, std::initializer_list<OptionSpec> specs,
               ParsedArgs* out);
bool ParseArgs(const char* command, int argc, char** argv, const std::vector<OptionSpec>& specs,
               ParsedArgs* out);

// A decimal number from `low` to `high`; false for anything else.
bool ParseNumber(const std::string& text, long low, long high, long* value);

}  // namespace kavexctl
