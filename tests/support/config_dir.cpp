#include "support/config_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "config/port_config.h"
#include "config/sealed_file.h"

#ifndef _WIN32
#include "platform/posix/module_path.h"
#endif

namespace fs = std::filesystem;

namespace kavex::test {

namespace {

#ifndef _WIN32
std::string MakePrivateDirectory() {
    std::string pattern = (fs::temp_directory_path() / "kavex-config-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    return pattern;
}
#endif

}  // namespace

ConfigDirectory::ConfigDirectory() {
#ifdef _WIN32
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    path_ = fs::path(module).parent_path().string();
    RemoveConfig();
#else
    path_ = MakePrivateDirectory();
    const std::string executable = path_ + "/host-program";
    kavex::posix::OverrideModuleFileName(executable.c_str());
#endif
}

ConfigDirectory::~ConfigDirectory() {
    std::error_code ignored;
#ifdef _WIN32
    RemoveConfig();
#else
    kavex::posix::OverrideModuleFileName(nullptr);
    // Read-only files left by a test must not keep the directory alive.
    for (const auto& entry : fs::directory_iterator(path_, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
#endif
}

std::string ConfigDirectory::ConfigPath() const {
#ifdef _WIN32
    return path_ + "\\" + kavex::config::kPortConfigFileName;
#else
    return path_ + "/" + kavex::config::kPortConfigFileName;
#endif
}

bool ConfigDirectory::ConfigExists() const { return fs::exists(ConfigPath()); }

std::string ConfigDirectory::ReadConfigBytes() const {
    std::ifstream in(ConfigPath(), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + ConfigPath());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ConfigDirectory::WriteConfigBytes(const std::string& bytes) const {
    std::ofstream out(ConfigPath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + ConfigPath());
}

void ConfigDirectory::RemoveConfig() const {
    std::error_code ignored;
    fs::permissions(ConfigPath(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove(ConfigPath(), ignored);
}

void WritePortConfigRecord(const ConfigDirectory& directory, const PortConfigRecord& record) {
    auto copy = std::make_unique<PortConfigRecord>(record);
    std::string error;
    if (!kavex::config::WriteSealedFile(directory.ConfigPath().c_str(), copy.get(), sizeof *copy, &error)) {
        throw std::runtime_error("cannot write the port configuration: " + error);
    }
}

void WritePortConfig(const ConfigDirectory& directory, int primary, std::array<int, 4> further) {
    auto record = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*record);
    record->PrimaryPort = static_cast<std::uint8_t>(primary);
    for (std::size_t k = 0; k < further.size(); ++k)
        record->FurtherPorts[k] = static_cast<std::uint8_t>(further[k]);
    WritePortConfigRecord(directory, *record);
}

}  // namespace kavex::test
