// kavexctl config: show, change and create the sealed port configuration
// file "ipportconfig.ini".
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/port_config.h"
#include "config/sealed_file.h"
#include "kavexctl/commands.h"
#include "kavexctl/config_fields.h"
#include "kavexctl/options.h"

namespace kavexctl {

void PrintConfigUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl config show --file PATH [--json]\n"
                 "       kavexctl config set  --file PATH [--json] Field=value ...\n"
                 "       kavexctl config init --file PATH [--json]\n"
                 "\n"
                 "Shows, changes or creates a port configuration file (ipportconfig.ini, which\n"
                 "the library reads from the host program's directory).\n"
                 "\n"
                 "  show   unseal and verify the file and print every field\n"
                 "  set    change the named fields (starting from the defaults when the file is\n"
                 "         missing), save, and print the result\n"
                 "  init   write a file holding the defaults (primary reader on COM1, no others)\n"
                 "\n"
                 "Fields are named as in the record: PrimaryPort=3, FurtherPorts=4,0,0,0,\n"
                 "Text0=..., Number88=...; texts are given and shown in UTF-8 and stored in GBK.\n");
}

namespace {

constexpr std::size_t kRecordSize = sizeof(PortConfigRecord);

struct Options {
    std::string command;
    std::string file;
    bool json = false;
    bool help = false;
    std::vector<std::pair<std::string, std::string>> assignments;
};

// Parses the arguments of one subcommand (argv[0] is its name); returns
// kExitOk or kExitUsage (message printed).
int ParseOptions(int argc, char** argv, Options* options) {
    options->command = argv[0];
    const std::string command = "config " + options->command;
    ParsedArgs args;
    if (!ParseArgs(command.c_str(), argc, argv, {{"file", true}, {"json", false}}, &args)) return kExitUsage;
    options->help = args.help;
    if (args.help) return kExitOk;
    options->file = args.Value("file");
    options->json = args.Has("json");
    for (const std::string& argument : args.operands) {
        const std::size_t equals = argument.find('=');
        if (options->command != "set" || equals == std::string::npos) {
            std::fprintf(stderr, "kavexctl %s: unexpected argument '%s'%s\n", command.c_str(),
                         argument.c_str(), options->command == "set" ? " (expected Field=value)" : "");
            return kExitUsage;
        }
        options->assignments.emplace_back(argument.substr(0, equals), argument.substr(equals + 1));
    }
    if (options->file.empty()) {
        std::fprintf(stderr, "kavexctl config %s: --file PATH is required\n", options->command.c_str());
        return kExitUsage;
    }
    if (options->command == "set" && options->assignments.empty()) {
        std::fprintf(stderr, "kavexctl config set: no Field=value given\n");
        return kExitUsage;
    }
    return kExitOk;
}

void PrintRecord(const PortConfigRecord& record, bool json) {
    const auto& fields = ConfigFields();
    if (json) {
        std::printf("{\n");
        for (std::size_t k = 0; k < fields.size(); ++k) {
            std::printf("  \"%s\": %s%s\n", fields[k].name, FieldJson(record, fields[k]).c_str(),
                        k + 1 < fields.size() ? "," : "");
        }
        std::printf("}\n");
        return;
    }
    for (const ConfigField& field : fields) {
        std::string value = FieldText(record, field);
        if (field.kind == FieldKind::kText) value = "\"" + value + "\"";
        if (std::strcmp(field.name, "PrimaryPort") == 0) value += "  (COM" + value + ")";
        if (std::strcmp(field.name, "Checksum") == 0) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", record.Checksum);
            value = hex;
        }
        std::printf("%-14s %s\n", field.name, value.c_str());
    }
}

// Loads the file into `record`. kExitOk when it verified (or, with
// `missingIsFine`, when there is no file: *missing tells); otherwise prints
// why and returns kExitFailure.
int LoadFile(const std::string& path, PortConfigRecord* record, bool missingIsFine, bool* missing) {
    *missing = false;
    const auto result = kavex::config::ReadSealedFile(path.c_str(), record, kRecordSize);
    using kavex::config::SealedReadStatus;
    switch (result.status) {
        case SealedReadStatus::kOk:
            if (result.fileLength > kRecordSize) {
                std::fprintf(
                    stderr,
                    "kavexctl config: note: %s is %llu bytes long; only its first %zu bytes are used\n",
                    path.c_str(), static_cast<unsigned long long>(result.fileLength), kRecordSize);
            }
            return kExitOk;
        case SealedReadStatus::kMissing:
            *missing = true;
            if (missingIsFine) return kExitOk;
            std::fprintf(stderr, "kavexctl config: %s: no such file\n", path.c_str());
            return kExitFailure;
        case SealedReadStatus::kShort:
            std::fprintf(stderr,
                         "kavexctl config: %s is not a valid port configuration file: it is %llu bytes long, "
                         "a sealed record is %zu bytes\n",
                         path.c_str(), static_cast<unsigned long long>(result.fileLength), kRecordSize);
            return kExitFailure;
        case SealedReadStatus::kCorrupt:
            std::fprintf(
                stderr,
                "kavexctl config: %s is not a valid port configuration file: its CRC-32 does not match "
                "(the file is damaged or is not a Kavex configuration)\n",
                path.c_str());
            return kExitFailure;
        case SealedReadStatus::kFileError:
        default:
            std::fprintf(stderr, "kavexctl config: cannot read %s: %s\n", path.c_str(), result.error.c_str());
            return kExitFailure;
    }
}

int SaveFile(const std::string& path, PortConfigRecord* record) {
    std::string error;
    if (!kavex::config::WriteSealedFile(path.c_str(), record, kRecordSize, &error)) {
        std::fprintf(stderr, "kavexctl config: cannot save %s: %s\n", path.c_str(), error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

int Show(const Options& options) {
    auto record = std::make_unique<PortConfigRecord>();
    bool missing = false;
    const int result = LoadFile(options.file, record.get(), false, &missing);
    if (result != kExitOk) return result;
    PrintRecord(*record, options.json);
    return kExitOk;
}

int Set(const Options& options) {
    // Every field name is checked before the file is touched.
    std::vector<const ConfigField*> targets;
    for (const auto& assignment : options.assignments) {
        const ConfigField* field = FindConfigField(assignment.first);
        if (field == nullptr) {
            std::string names;
            for (const ConfigField& known : ConfigFields()) {
                if (known.settable) names += std::string(names.empty() ? "" : ", ") + known.name;
            }
            std::fprintf(stderr, "kavexctl config set: unknown field '%s'; fields are: %s\n",
                         assignment.first.c_str(), names.c_str());
            return kExitUsage;
        }
        targets.push_back(field);
    }
    auto record = std::make_unique<PortConfigRecord>();
    bool missing = false;
    if (LoadFile(options.file, record.get(), true, &missing) != kExitOk) {
        std::fprintf(stderr,
                     "kavexctl config set: the file was left unchanged (use 'init' to start afresh)\n");
        return kExitFailure;
    }
    if (missing) CPortConfig::SetDefaults(*record);
    for (std::size_t k = 0; k < targets.size(); ++k) {
        std::string error;
        if (!SetField(*record, *targets[k], options.assignments[k].second, &error)) {
            std::fprintf(stderr, "kavexctl config set: %s; the file was left unchanged\n", error.c_str());
            return kExitUsage;
        }
    }
    const int saved = SaveFile(options.file, record.get());
    if (saved != kExitOk) return saved;
    if (missing && !options.json) std::printf("Created %s from the defaults.\n", options.file.c_str());
    PrintRecord(*record, options.json);
    return kExitOk;
}

int Init(const Options& options) {
    auto record = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*record);
    const int saved = SaveFile(options.file, record.get());
    if (saved != kExitOk) return saved;
    PrintRecord(*record, options.json);
    return kExitOk;
}

}  // namespace

int RunConfig(int argc, char** argv) {
    if (argc < 2) {
        PrintConfigUsage(stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintConfigUsage(stdout);
        return kExitOk;
    }
    if (command != "show" && command != "set" && command != "init") {
        std::fprintf(stderr, "kavexctl config: unknown command '%s'\n\n", command.c_str());
        PrintConfigUsage(stderr);
        return kExitUsage;
    }
    Options options;
    const int parsed = ParseOptions(argc - 1, argv + 1, &options);
    if (parsed != kExitOk) return parsed;
    if (options.help) {
        PrintConfigUsage(stdout);
        return kExitOk;
    }
    if (command == "show") return Show(options);
    if (command == "set") return Set(options);
    return Init(options);
}

}  // namespace kavexctl
