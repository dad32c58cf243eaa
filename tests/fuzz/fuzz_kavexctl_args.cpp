// kavexctl's argument handling over fuzzed command lines: the one parser
// (ParseArgs, ParseNumber) and the commands that validate their options
// before any work, run the way main() runs them.
//
// Input: one byte picks what runs (its value modulo 4) and the subcommand
// (the rest of it), one the state of the file, then the arguments,
// separated by NUL bytes:
//   config show|set|init --file F ARGS  on a file in a private directory,
//                                        which starts missing, valid,
//                                        corrupt, short or read-only;
//   settings show|set|init|report --file F ARGS
//                                        the same for the settings file
//                                        (also in its older 482-byte
//                                        form), through the process's
//                                        shared settings view;
//   read ARGS                            with no library to load, so that
//                                        whatever the options say, nothing
//                                        touches a device;
//   ParseArgs over a fuzzed option table, and ParseNumber.
// Checked: the exit code is one kavexctl documents; a config command that
// fails leaves the file as it was, one that succeeds leaves a file that
// verifies, and show never writes; ParseArgs gives only the options it was
// given and their values, and ParseNumber only numbers within the range.
// A settings command that fails leaves the file as it was; set and init
// leave one that verifies.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/port_config.h"
#include "config/sealed_file.h"
#include "fuzz_support.h"
#include "kavexctl/commands.h"
#include "kavexctl/options.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"

using kavex::fuzz::FuzzInput;

namespace {

std::vector<std::string> Arguments(FuzzInput& input) {
    std::vector<std::string> arguments;
    while (!input.Empty() && arguments.size() < 16) arguments.push_back(input.Token('\0'));
    return arguments;
}

// argv as main() hands it on: pointers into strings the caller keeps.
std::vector<char*> Argv(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return argv;
}

bool IsExitCode(int code) {
    return code == kavexctl::kExitOk || code == kavexctl::kExitFailure || code == kavexctl::kExitUsage ||
           code == kavexctl::kExitUnavailable;
}

std::string ValidImage() {
    auto record = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*record);
    record->PrimaryPort = 3;
    record->FurtherPorts[0] = 4;
    const std::string path = kavex::fuzz::ScratchDirectory() + "/valid.ini";
    std::string error;
    if (!kavex::config::WriteSealedFile(path.c_str(), record.get(), sizeof *record, &error)) std::abort();
    return kavex::fuzz::FileBytes(path);
}

bool Verifies(const std::string& path) {
    auto record = std::make_unique<PortConfigRecord>();
    return kavex::config::ReadSealedFile(path.c_str(), record.get(), sizeof *record).status ==
           kavex::config::SealedReadStatus::kOk;
}

// The state a file starts in: missing, `valid`, corrupt, cut short (the
// state byte's length), or valid and read-only.
void PrepareFile(const std::string& path, const std::string& valid, std::uint8_t state) {
    std::string image = valid;
    switch (state % 5) {
        case 0: kavex::fuzz::PutFile(path, nullptr); break;
        case 1: kavex::fuzz::PutFile(path, &image); break;
        case 2:
            image[state % image.size()] ^= 0x40;
            kavex::fuzz::PutFile(path, &image);
            break;
        case 3:
            image.resize(state);
            kavex::fuzz::PutFile(path, &image);
            break;
        default:
            kavex::fuzz::PutFile(path, &image);
            chmod(path.c_str(), 0444);
            break;
    }
}

// The command's own arguments, then the fuzzed ones, but for any that could
// name another file (--file, or abbreviations of it).
std::vector<std::string> CommandLine(std::vector<std::string> arguments, FuzzInput& input) {
    for (std::string& argument : Arguments(input)) {
        if (argument.rfind("--f", 0) == 0 || argument.rfind("--o", 0) == 0) continue;
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

void RunConfig(FuzzInput& input, std::uint8_t command) {
    static const std::string valid = ValidImage();
    const std::string path = kavex::fuzz::ScratchDirectory() + "/ipportconfig.ini";
    PrepareFile(path, valid, input.Byte());
    const char* subcommands[] = {"show", "set", "init"};
    const std::string subcommand = subcommands[command % 3];
    // The file is always the private one: it comes first, and arguments
    // that could name another one are left out. "--" and everything else
    // reach the parser as given.
    std::vector<std::string> arguments = CommandLine({"config", subcommand, "--file", path}, input);
    const std::string before = kavex::fuzz::FileBytes(path);
    std::vector<char*> argv = Argv(arguments);
    const int code = kavexctl::RunConfig(static_cast<int>(arguments.size()), argv.data());
    KAVEX_FUZZ_CHECK(IsExitCode(code) && code != kavexctl::kExitUnavailable);
    const std::string after = kavex::fuzz::FileBytes(path);
    if (subcommand == "show" || code != kavexctl::kExitOk) KAVEX_FUZZ_CHECK(after == before);
    if (subcommand != "show" && code == kavexctl::kExitOk && after != before)
        KAVEX_FUZZ_CHECK(Verifies(path));
    chmod(path.c_str(), 0644);
}

std::string SealedSettings(const VersionConfigRecord& record, const char* name) {
    const std::string path = kavex::fuzz::ScratchDirectory() + "/" + name;
    VersionConfigRecord copy = record;
    std::string error;
    if (!kavex::config::WriteSealedFile(path.c_str(), &copy, sizeof copy, &error)) std::abort();
    return kavex::fuzz::FileBytes(path);
}

bool SettingsVerify(const std::string& path) {
    auto record = std::make_unique<VersionConfigRecord>();
    return kavex::config::ReadSealedFile(path.c_str(), record.get(), sizeof *record).status ==
           kavex::config::SealedReadStatus::kOk;
}

void RunSettings(FuzzInput& input, std::uint8_t command) {
    static const std::string valid = [] {
        VersionConfigRecord record;
        kavex::settings::WriteDefaults(record);
        record.Number510 = 510;
        return SealedSettings(record, "valid.cfg");
    }();
    // The older form: the first 478 bytes of a sealed record and 4 more.
    static const std::string oldForm = valid.substr(0, kavex::settings::kOldFormSize);
    const std::string path = kavex::fuzz::ScratchDirectory() + "/" + kavex::settings::kSettingsFileName;
    const std::uint8_t state = input.Byte();
    PrepareFile(path, state % 7 >= 5 ? oldForm : valid, state % 7 >= 5 ? 1 : state);

    const char* subcommands[] = {"show", "set", "init", "report"};
    const std::string subcommand = subcommands[command % 4];
    std::vector<std::string> arguments = CommandLine({"settings", subcommand, "--file", path}, input);
    if (subcommand == "report") {
        arguments.push_back("--out");
        arguments.push_back(kavex::fuzz::ScratchDirectory() + "/report.txt");
    }
    const bool wasOldForm = kavex::fuzz::FileBytes(path) == oldForm;
    const std::string before = kavex::fuzz::FileBytes(path);
    std::vector<char*> argv = Argv(arguments);
    const int code = kavexctl::RunSettings(static_cast<int>(arguments.size()), argv.data());
    KAVEX_FUZZ_CHECK(IsExitCode(code) && code != kavexctl::kExitUnavailable);
    const std::string after = kavex::fuzz::FileBytes(path);
    // Only a successful set or init, or the load of the older form (which
    // rewrites it), changes the file; what it leaves verifies.
    if (code != kavexctl::kExitOk && !wasOldForm) KAVEX_FUZZ_CHECK(after == before);
    if (after != before) KAVEX_FUZZ_CHECK(SettingsVerify(path));
    chmod(path.c_str(), 0644);
}

void RunRead(FuzzInput& input) {
    std::vector<std::string> arguments = {"read"};
    for (std::string& argument : Arguments(input)) arguments.push_back(std::move(argument));
    std::vector<char*> argv = Argv(arguments);
    const int code = kavexctl::RunRead(static_cast<int>(arguments.size()), argv.data());
    // Without a library nothing can succeed but help.
    KAVEX_FUZZ_CHECK(code == kavexctl::kExitOk || code == kavexctl::kExitUsage ||
                     code == kavexctl::kExitUnavailable);
}

void Parse(FuzzInput& input) {
    static const kavexctl::OptionSpec kSpecs[] = {
        {"file", true},    {"json", false}, {"length", true}, {"count", true},
        {"config", false}, {"port", true},  {"gap", true},    {"all", false},
    };
    const std::uint8_t chosen = input.Byte();
    std::vector<kavexctl::OptionSpec> specs;
    for (unsigned k = 0; k < 8; ++k) {
        if (chosen & (1u << k)) specs.push_back(kSpecs[k]);
    }
    const long low = static_cast<long>(static_cast<std::int8_t>(input.Byte())) * 1000;
    const long high = low + static_cast<long>(input.Byte()) * 100000;
    std::vector<std::string> arguments = {"command"};
    for (std::string& argument : Arguments(input)) arguments.push_back(std::move(argument));
    const std::vector<std::string> given = arguments;
    std::vector<char*> argv = Argv(arguments);

    kavexctl::ParsedArgs parsed;
    const bool ok =
        kavexctl::ParseArgs("fuzz", static_cast<int>(arguments.size()), argv.data(), specs, &parsed);
    if (!ok) return;
    for (const auto& value : parsed.values) {
        bool known = false;
        for (const auto& option : specs) known = known || value.first == option.name;
        KAVEX_FUZZ_CHECK(known);
    }
    // Every operand is one of the arguments, and none is lost or made up.
    KAVEX_FUZZ_CHECK(parsed.operands.size() < given.size());
    for (const std::string& operand : parsed.operands) {
        bool found = false;
        for (std::size_t k = 1; k < given.size(); ++k) found = found || given[k] == operand;
        KAVEX_FUZZ_CHECK(found);
        long number = 0;
        if (kavexctl::ParseNumber(operand, low, high, &number)) {
            KAVEX_FUZZ_CHECK(number >= low && number <= high);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Named objects and the registry of the settings commands: private to
    // this process's scratch directory.
    const std::string prefix = kavex::fuzz::ScratchDirectory() + "/prefix";
    mkdir(prefix.c_str(), 0700);
    setenv("KAVEX_PREFIX", prefix.c_str(), 1);
    // No library to load: `read` ends before it could open a device.
    setenv("KAVEX_LIBRARY", "/nonexistent/libkavex.so", 1);
    // The commands print records and usage; only their results count here.
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDOUT_FILENO);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t what = input.Byte();
    switch (what % 4) {
        case 0: RunConfig(input, what / 4); break;
        case 1: RunRead(input); break;
        case 2: Parse(input); break;
        default: RunSettings(input, what / 4); break;
    }
    return 0;
}
