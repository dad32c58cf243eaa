#include "support/settings_env.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "config/rc4.h"
#include "config/sealed_file.h"
#include "platform/win32.h"
#include "settings/version_config.h"

#ifndef _WIN32
#include "platform/posix/drive_paths.h"
#include "platform/posix/module_path.h"
#endif

namespace fs = std::filesystem;

namespace kavex::test {

namespace {

constexpr char kKeyPath[] = "SOFTWARE\\QelCorp\\Veridane";

std::string Seal(const std::uint8_t* plain, std::size_t size) {
    std::string image(size, '\0');
    const CRc4 rc4;
    rc4.CryptCopy(kavex::config::kSealingKey, kavex::config::kSealingKeyLength, plain, static_cast<int>(size),
                  reinterpret_cast<std::uint8_t*>(image.data()), static_cast<int>(size));
    return image;
}

}  // namespace

SettingsEnvironment::SettingsEnvironment() {
#ifdef _WIN32
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    executableDirectory_ = fs::path(module).parent_path().string();
    RemoveRegistryKey();
    RemoveFile(LocatedFile());
#else
    executableDirectory_ = prefix_.Path() + "/host";
    fs::create_directories(executableDirectory_);
    const std::string executable = executableDirectory_ + "/host-program";
    kavex::posix::OverrideModuleFileName(executable.c_str());
#endif
}

SettingsEnvironment::~SettingsEnvironment() {
    std::error_code ignored;
#ifdef _WIN32
    RemoveRegistryKey();
    SetFileAttributesA(LocatedFile().c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveFile(LocatedFile());
    for (const auto& entry : fs::directory_iterator(executableDirectory_, ignored)) {
        if (entry.path().filename().string().rfind("~vc", 0) == 0) fs::remove(entry.path(), ignored);
    }
#else
    kavex::posix::OverrideModuleFileName(nullptr);
    for (const auto& entry : fs::recursive_directory_iterator(prefix_.Path(), ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
#endif
}

#ifndef _WIN32
std::string SettingsEnvironment::DriveC() { return kavex::posix::NativePath("C:"); }
#endif

std::string SettingsEnvironment::LocatedFile() const {
    return (fs::path(executableDirectory_) / kavex::settings::kSettingsFileName).string();
}

std::string SettingsEnvironment::ScratchFile(const std::string& name) const {
    return prefix_.Path() + "/" + name;
}

void SettingsEnvironment::SetExePath(const std::string& directory) const {
#ifdef _WIN32
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot create the registry key");
    }
    const LONG result =
        RegSetValueExA(key, "ExePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory.c_str()),
                       static_cast<DWORD>(directory.size() + 1));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) throw std::runtime_error("cannot set ExePath");
#else
    // As regedit writes it: backslashes and quotes escaped.
    std::string escaped;
    for (const char c : directory) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    std::ofstream out(prefix_.Path() + "/system.reg", std::ios::binary | std::ios::trunc);
    out << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" << kKeyPath << "]\r\n\"ExePath\"=\"" << escaped
        << "\"\r\n\r\n";
    if (!out) throw std::runtime_error("cannot write system.reg");
#endif
}

void SettingsEnvironment::RemoveRegistryKey() const {
#ifdef _WIN32
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
#else
    RemoveFile(prefix_.Path() + "/system.reg");
#endif
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove(path, ignored);
}

std::string SealedImage(const VersionConfigRecord& record) {
    VersionConfigRecord copy = record;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&copy);
    kavex::config::StoreTrailer(bytes, sizeof copy);
    return Seal(bytes, sizeof copy);
}

std::string OldFormImage(const VersionConfigRecord& record) {
    std::uint8_t plain[kavex::settings::kOldFormSize] = {};
    std::memcpy(plain, &record, kavex::settings::kOldFormCopied);
    kavex::config::StoreTrailer(plain, sizeof plain);
    return Seal(plain, sizeof plain);
}

bool UnsealImage(const std::string& image, VersionConfigRecord* record) {
    if (image.size() != sizeof(VersionConfigRecord)) return false;
    const std::string plain = Seal(reinterpret_cast<const std::uint8_t*>(image.data()), image.size());
    if (!kavex::config::TrailerMatches(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()))
        return false;
    std::memcpy(record, plain.data(), plain.size());
    return true;
}

}  // namespace kavex::test
