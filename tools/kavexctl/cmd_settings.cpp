// kavexctl settings: where the registration settings file is, and show,
// change, create and report the settings through the library, as a client
// program of the settings library does.
//
// Every command constructs its CVersionConfig with the file (--file F, or
// null for the file the library locates), so the view's set-up loads the
// file, and shows and saves the shared record. That record is the one of
// every process on the machine that uses the library.
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "config/file_location.h"
#include "config/sealed_file.h"
#include "kavexctl/commands.h"
#include "kavexctl/config_text.h"
#include "kavexctl/options.h"
#include "kavexctl/settings_fields.h"
#include "settings/settings_report.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"

namespace kavexctl {

void PrintSettingsUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl settings path\n"
                 "       kavexctl settings show   [--file F] [--json]\n"
                 "       kavexctl settings set    [--file F] Field=value [Field=value ...]\n"
                 "       kavexctl settings init   [--file F]\n"
                 "       kavexctl settings report [--file F] [--out R]\n"
                 "\n"
                 "The registration settings file (qelversion.cfg), through the library as a client\n"
                 "program uses it. Without --file it is the file the library locates: in the\n"
                 "directory the registry value \"ExePath\" of HKLM\\SOFTWARE\\QelCorp\\Veridane names\n"
                 "(Linux: $KAVEX_PREFIX/system.reg), else in the directory of kavexctl itself.\n"
                 "\n"
                 "  path   print the file's full path and where it came from; exit 1 when missing\n"
                 "  show   load the file and print every field (the shared record, with the\n"
                 "         values the library fills in); an older 482-byte file is rewritten\n"
                 "  set    change the named fields and save the whole record\n"
                 "  init   write a file holding the defaults, replacing any file there\n"
                 "  report the settings report: written to R in GBK as the library writes it,\n"
                 "         or printed in UTF-8\n"
                 "\n"
                 "Fields carry the record's names (VersionNumber, Remark, IpAddress, Byte449, ...).\n"
                 "Texts are UTF-8 (stored in GBK), IpAddress=a.b.c.d, blocks in hex of their whole\n"
                 "width, IdTypes=a,b,c (sets IdTypeCount), Time885 and Time889 in seconds or as\n"
                 "\"YYYY-MM-DD hh:mm:ss\" local time.\n"
                 "Exit codes: 0 done, 1 the file is missing, invalid or cannot be written, 2 bad\n"
                 "command line.\n");
}

namespace {

constexpr std::size_t kRecordSize = sizeof(VersionConfigRecord);

struct Options {
    std::string file;  // empty: the located file
    std::string out;   // report: the file to write
    bool json = false;
    std::vector<std::pair<std::string, std::string>> assignments;
};

int UsageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "kavexctl settings %s: %s\n", command, message.c_str());
    return kExitUsage;
}

// Parses the arguments of one subcommand (argv[0] is its name): the options
// it takes, and for `set` the Field=value assignments. kExitOk, or
// kExitUsage with the message printed; *help when help was asked for.
int ParseSubcommand(const std::string& command, int argc, char** argv, Options* options, bool* help) {
    std::vector<OptionSpec> specs;
    if (command != "path") specs.push_back({"file", true});
    if (command == "show") specs.push_back({"json", false});
    if (command == "report") specs.push_back({"out", true});
    const std::string name = "settings " + command;
    ParsedArgs args;
    if (!ParseArgs(name.c_str(), argc, argv, specs, &args)) return kExitUsage;
    *help = args.help;
    if (args.help) return kExitOk;
    if (args.Has("file") && args.Value("file").empty())
        return UsageError(command.c_str(), "--file needs a path");
    if (args.Has("out") && args.Value("out").empty())
        return UsageError(command.c_str(), "--out needs a path");
    // The library refuses such a path, and would then work on the file it
    // locates instead: refused here before anything is touched.
    if (args.Value("file").size() >= kavex::settings::kSettingsPathLimit) {
        return UsageError(command.c_str(), "--file: the path is " +
                                               std::to_string(args.Value("file").size()) +
                                               " characters long; the library takes paths of fewer than " +
                                               std::to_string(kavex::settings::kSettingsPathLimit));
    }
    options->file = args.Value("file");
    options->out = args.Value("out");
    options->json = args.Has("json");
    for (const std::string& argument : args.operands) {
        const std::size_t equals = argument.find('=');
        if (command != "set" || equals == std::string::npos || equals == 0) {
            return UsageError(command.c_str(), "unexpected argument '" + argument + "'" +
                                                   (command == "set" ? " (expected Field=value)" : ""));
        }
        options->assignments.emplace_back(argument.substr(0, equals), argument.substr(equals + 1));
    }
    if (command == "set" && options->assignments.empty()) return UsageError("set", "no Field=value given");
    return kExitOk;
}

// The file a command works on; false (message printed) when the library
// can compose none.
bool TargetFile(const Options& options, std::string* path) {
    if (!options.file.empty()) {
        *path = options.file;
        return true;
    }
    if (kavex::settings::LocateSettingsFile(path) != kavex::settings::SettingsSource::kNone) return true;
    std::fprintf(stderr,
                 "kavexctl settings: the settings file cannot be located (the directory is unknown or "
                 "its path is too long)\n");
    return false;
}

// The path the library is given: null for the located file.
const char* LibraryPath(const Options& options) {
    return options.file.empty() ? nullptr : options.file.c_str();
}

enum class FileState { kValid, kOldForm, kMissing, kInvalid };

// Looks at the file as the library's Load judges it, without changing it.
// *why says what is wrong with a missing or invalid file.
FileState Examine(const std::string& path, std::string* why) {
    kavex::config::SealedFileModes modes;
    modes.shareFlags = CFile::shareDenyWrite;
    modes.descriptionLimit = kavex::settings::kSettingsPathLimit;
    VersionConfigRecord plain;
    std::size_t length = 0;
    const auto result = kavex::config::ReadSealedPrefix(path.c_str(), reinterpret_cast<std::uint8_t*>(&plain),
                                                        kRecordSize, &length, modes);
    using kavex::config::SealedReadStatus;
    why->clear();
    if (result.status == SealedReadStatus::kMissing) {
        *why = path + ": no such file";
        return FileState::kMissing;
    }
    if (result.status != SealedReadStatus::kOk) {
        *why = "cannot read " + path + ": " + result.error;
        return FileState::kInvalid;
    }
    if (length == kavex::settings::kOldFormSize) return FileState::kOldForm;
    if (length != kRecordSize) {
        *why = path + " is not a valid settings file: it is " + std::to_string(result.fileLength) +
               " bytes long; a settings file is " + std::to_string(kRecordSize) + " bytes (" +
               std::to_string(kavex::settings::kOldFormSize) + " in the older form)";
        return FileState::kInvalid;
    }
    if (!kavex::config::TrailerMatches(reinterpret_cast<const std::uint8_t*>(&plain), kRecordSize)) {
        *why = path +
               " is not a valid settings file: its CRC-32 does not match (the file is damaged or is not a "
               "settings "
               "file)";
        return FileState::kInvalid;
    }
    if (result.fileLength > kRecordSize) {
        *why = path + " is " + std::to_string(result.fileLength) + " bytes long; only its first " +
               std::to_string(kRecordSize) + " bytes are used";
    }
    return FileState::kValid;
}

// Examine, saying on standard error what is wrong (or worth a note).
FileState CheckFile(const std::string& path) {
    std::string why;
    const FileState state = Examine(path, &why);
    if (!why.empty()) {
        std::fprintf(stderr, "kavexctl settings: %s%s\n", state == FileState::kValid ? "note: " : "",
                     why.c_str());
    }
    return state;
}

// False (message printed) when the process has no shared view.
bool HaveView() {
    if (kavex::settings::SharedView() != nullptr) return true;
    std::fprintf(stderr, "kavexctl settings: the shared settings view could not be set up\n");
    return false;
}

// A file that the library loads: valid, or the older form, which the
// view's set-up rewrites. kExitOk, or kExitFailure with the reason printed.
int LoadFile(const std::string& path, bool* converted) {
    const FileState state = CheckFile(path);
    *converted = state == FileState::kOldForm;
    if (state == FileState::kMissing || state == FileState::kInvalid) return kExitFailure;
    return kExitOk;
}

void PrintRecord(const VersionConfigRecord& record, bool json) {
    const kavex::settings::VersionField* fields = kavex::settings::VersionFields();
    const std::size_t count = kavex::settings::VersionFieldCount();
    if (json) {
        std::printf("{\n");
        for (std::size_t k = 0; k < count; ++k) {
            std::printf("  \"%s\": %s%s\n", fields[k].name, SettingsFieldJson(record, fields[k]).c_str(),
                        k + 1 < count ? "," : "");
        }
        std::printf("}\n");
        return;
    }
    // One line per field: its name, two spaces, its value.
    for (std::size_t k = 0; k < count; ++k) {
        std::printf("%s  %s\n", fields[k].name, SettingsFieldText(record, fields[k]).c_str());
    }
}

int RunPath() {
    std::string path;
    const kavex::settings::SettingsSource source = kavex::settings::LocateSettingsFile(&path);
    if (source == kavex::settings::SettingsSource::kNone) {
        std::fprintf(stderr,
                     "kavexctl settings path: the settings file cannot be located (the directory is "
                     "unknown or its path is too long)\n");
        return kExitFailure;
    }
    std::printf(
        "%s\n%s\n", path.c_str(),
        source == kavex::settings::SettingsSource::kRegistry ? "registry ExePath" : "executable directory");
    return kavex::config::PathExists(path.c_str()) ? kExitOk : kExitFailure;
}

int RunShow(const Options& options) {
    std::string path;
    if (!TargetFile(options, &path)) return kExitFailure;
    bool converted = false;
    if (const int loaded = LoadFile(path, &converted); loaded != kExitOk) return loaded;
    CVersionConfig config(LibraryPath(options), FALSE);
    if (!HaveView()) return kExitFailure;
    if (converted) {
        // The set-up's Load rewrote it; say whether that worked.
        const bool rewritten = CheckFile(path) == FileState::kValid;
        std::fprintf(stderr, "kavexctl settings: note: %s was in the older %zu-byte form; %s\n", path.c_str(),
                     kavex::settings::kOldFormSize,
                     rewritten ? "it has been rewritten in the current form"
                               : "rewriting it in the current form failed, and it was left as it was");
    }
    VersionConfigRecord record{};
    config.GetRecord(&record);
    PrintRecord(record, options.json);
    return kExitOk;
}

int RunSet(const Options& options) {
    // Every assignment is checked before anything is touched.
    VersionConfigRecord scratch;
    kavex::settings::WriteDefaults(scratch);
    for (const auto& [name, value] : options.assignments) {
        std::string error;
        if (!SetSettingsField(scratch, name, value, &error)) {
            std::fprintf(stderr, "kavexctl settings set: %s; the file was left unchanged\n", error.c_str());
            return kExitUsage;
        }
    }
    std::string path;
    if (!TargetFile(options, &path)) return kExitFailure;
    bool converted = false;
    if (LoadFile(path, &converted) != kExitOk) {
        std::fprintf(stderr,
                     "kavexctl settings set: the file was left unchanged (use 'init' to write the "
                     "defaults)\n");
        return kExitFailure;
    }
    CVersionConfig config(LibraryPath(options), FALSE);
    if (!HaveView()) return kExitFailure;
    config.Lock();
    VersionConfigRecord record{};
    config.GetRecord(&record);
    for (const auto& [name, value] : options.assignments) {
        std::string error;
        SetSettingsField(record, name, value, &error);
    }
    const BOOL saved = config.SetRecord(&record);
    config.Unlock();
    if (!saved) {
        std::fprintf(stderr, "kavexctl settings set: cannot save %s\n", PeekConfigPath());
        return kExitFailure;
    }
    for (const auto& assignment : options.assignments) {
        const kavex::settings::VersionField* field =
            kavex::settings::FindVersionField(assignment.first.c_str());
        std::printf("%s  %s\n", field->name, SettingsFieldText(record, *field).c_str());
    }
    return kExitOk;
}

int RunInit(const Options& options) {
    std::string path;
    if (!TargetFile(options, &path)) return kExitFailure;
    std::string why;
    const FileState before = Examine(path, &why);
    CVersionConfig config(LibraryPath(options), FALSE);
    if (!HaveView()) return kExitFailure;
    // The file gets the defaults exactly; the shared record then shows the
    // values a set-up fills in, as after any set-up.
    config.Lock();
    VersionConfigRecord defaults;
    kavex::settings::WriteDefaults(defaults);
    const BOOL saved = config.SetRecord(&defaults);
    kavex::settings::FillInSharedRecord();
    config.Unlock();
    if (!saved) {
        std::fprintf(stderr, "kavexctl settings init: cannot write %s\n", PeekConfigPath());
        return kExitFailure;
    }
    switch (before) {
        case FileState::kMissing:
            std::printf("Wrote the defaults to %s (a new file).\n", PeekConfigPath());
            break;
        case FileState::kInvalid:
            std::printf("Wrote the defaults to %s, replacing an invalid file (%s).\n", PeekConfigPath(),
                        why.c_str());
            break;
        default: std::printf("Wrote the defaults to %s, replacing its settings.\n", PeekConfigPath()); break;
    }
    return kExitOk;
}

int RunReport(const Options& options) {
    std::string path;
    if (!TargetFile(options, &path)) return kExitFailure;
    bool converted = false;
    if (const int loaded = LoadFile(path, &converted); loaded != kExitOk) return loaded;
    CVersionConfig config(LibraryPath(options), FALSE);
    if (!HaveView()) return kExitFailure;
    if (!options.out.empty()) {
        if (WriteSettingsReport(options.out.c_str())) return kExitOk;
        std::fprintf(stderr, "kavexctl settings report: cannot write %s\n", options.out.c_str());
        return kExitFailure;
    }
    VersionConfigRecord record{};
    config.GetRecord(&record);
    std::string report;
    for (const std::string& line : kavex::settings::SettingsReportLines(record)) report += line;
    std::tm now{};
    const bool known = kavex::settings::LocalTimeOf(std::time(nullptr), &now);
    report += kavex::settings::SettingsReportTimeLine(known ? &now : nullptr);
    // The same lines in UTF-8, ended as lines are on this terminal.
    std::string text = GbkToUtf8(report);
    std::string lines;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') continue;
        lines += text[k];
    }
    std::fputs(lines.c_str(), stdout);
    return kExitOk;
}

}  // namespace

int RunSettings(int argc, char** argv) {
    if (argc < 2) {
        PrintSettingsUsage(stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintSettingsUsage(stdout);
        return kExitOk;
    }
    using Run = int (*)(const Options&);
    const struct {
        const char* name;
        Run run;
    } kSubcommands[] = {{"path", [](const Options&) { return RunPath(); }},
                        {"show", RunShow},
                        {"set", RunSet},
                        {"init", RunInit},
                        {"report", RunReport}};
    for (const auto& subcommand : kSubcommands) {
        if (command != subcommand.name) continue;
        Options options;
        bool help = false;
        const int parsed = ParseSubcommand(command, argc - 1, argv + 1, &options, &help);
        if (parsed != kExitOk) return parsed;
        if (help) {
            PrintSettingsUsage(stdout);
            return kExitOk;
        }
        return subcommand.run(options);
    }
    std::fprintf(stderr, "kavexctl settings: unknown command '%s'\n\n", command.c_str());
    PrintSettingsUsage(stderr);
    return kExitUsage;
}

}  // namespace kavexctl
