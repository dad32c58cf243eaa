#include "kavexctl/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kavexctl {

namespace {
constexpr int kFirstLongOption = 256;  // getopt_long's answer for option k is this + k
}

std::string ParsedArgs::Value(const char* name, const std::string& fallback) const {
    const auto found = values.find(name);
    return found != values.end() ? found->second : fallback;
}

bool ParseArgs(const char* command, int argc, char** argv, std::initializer_list<OptionSpec> specs,
               ParsedArgs* out) {
    return ParseArgs(command, argc, argv, std::vector<OptionSpec>(specs), out);
}

bool ParseArgs(const char* command, int argc, char** argv, const std::vector<OptionSpec>& specs,
               ParsedArgs* out) {
    std::vector<option> table;
    for (const OptionSpec& accepted : specs) {
        const int index = static_cast<int>(table.size());
        table.push_back({accepted.name, accepted.takesValue ? required_argument : no_argument, nullptr,
                         kFirstLongOption + index});
    }
    table.push_back({"help", no_argument, nullptr, 'h'});
    table.push_back({nullptr, 0, nullptr, 0});

    // optind 0 makes getopt start afresh (glibc and MinGW-w64 both); opterr
    // 0 and the leading ':' let the messages below name the command.
    optind = 0;
    opterr = 0;
    for (;;) {
        const int given = getopt_long(argc, argv, ":h", table.data(), nullptr);
        if (given == -1) break;
        if (given == 'h') {
            out->help = true;
        } else if (given >= kFirstLongOption) {
            const option& matched = table[static_cast<std::size_t>(given - kFirstLongOption)];
            out->values[matched.name] = optarg != nullptr ? optarg : "";
        } else if (given == ':') {
            std::fprintf(stderr, "kavexctl %s: %s needs a value\n", command, argv[optind - 1]);
            return false;
        } else {
            const char* offending = optopt != 0 ? nullptr : argv[optind - 1];
            if (offending != nullptr) {
                std::fprintf(stderr, "kavexctl %s: unknown option '%s'\n", command, offending);
            } else {
                std::fprintf(stderr, "kavexctl %s: unknown option '-%c'\n", command, optopt);
            }
            return false;
        }
    }
    for (int k = optind; k < argc; ++k) out->operands.emplace_back(argv[k]);
    return true;
}

bool ParseNumber(const std::string& text, long low, long high, long* value) {
    if (text.empty() || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

}  // namespace kavexctl
