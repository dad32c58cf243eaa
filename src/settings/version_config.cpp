#include "settings/version_config.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "config/crc32.h"
#include "config/file_location.h"
#include "config/sealed_file.h"
#include "settings/shared_view.h"
#include "settings/version_fields.h"

namespace kavex::settings {

namespace {

constexpr char kRegistryKey[] = "SOFTWARE\\QelCorp\\Veridane";
constexpr char kRegistryValue[] = "ExePath";
constexpr std::size_t kRecordSize = sizeof(VersionConfigRecord);
constexpr std::size_t kCovered = offsetof(VersionConfigRecord, Checksum);  // the bytes the CRC covers

// How the settings file is opened and replaced: others may read it but not
// write it meanwhile; saves hold the mutex, so what an interrupted one left
// can be removed by the next.
kavex::config::SealedFileModes SettingsFileModes() {
    kavex::config::SealedFileModes modes;
    modes.shareFlags = CFile::shareDenyWrite;
    modes.tempPrefix = "~vc";
    modes.removeLeftovers = true;
    modes.descriptionLimit = kSettingsPathLimit;
    return modes;
}

// The registry's settings directory: "ExePath", when it is there and
// shorter than 1024 bytes.
bool RegistryDirectory(std::string* directory) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kRegistryKey, &key) != ERROR_SUCCESS) return false;
    char value[kSettingsPathLimit] = {};
    DWORD size = sizeof value;
    const LONG result =
        RegQueryValueExA(key, kRegistryValue, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || size >= sizeof value) return false;
    directory->assign(value, TextLength(value, sizeof value));
    return true;
}

// A caller's path that fits the view's path slot; false for one of 1024
// characters or more.
bool FitsPathSlot(const char* path) { return TextLength(path, kSettingsPathLimit) < kSettingsPathLimit; }

void StorePath(VersionConfigView& view, const char* name) {
    std::memset(view.path, 0, sizeof view.path);
    std::memcpy(view.path, name, TextLength(name, sizeof view.path - 1));
}

// Holds the settings lock for one scope.
class ScopedLock {
public:
    explicit ScopedLock(CVersionConfig& config) : config_(config) { config_.Lock(); }
    ~ScopedLock() { config_.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CVersionConfig& config_;
};

enum class TrailerCheck { kMatches, kDiffers, kUnknown };

// Whether the record's Checksum is the CRC-32 of the bytes before it;
// kUnknown when the CRC cannot be computed (no memory for its table), which
// says nothing about the file.
TrailerCheck CheckTrailer(const VersionConfigRecord& record) {
    const CCrc32 crc32;
    const auto* bytes = reinterpret_cast<const char*>(&record);
    std::uint32_t crc = 0;
    if (crc32.Calculate(bytes, static_cast<std::uint32_t>(kCovered), crc) != 0) return TrailerCheck::kUnknown;
    return crc == record.Checksum ? TrailerCheck::kMatches : TrailerCheck::kDiffers;
}

// Reports, as a file error is reported, a load or save that ran out of memory.
void ReportMemoryShortage(const char* operation) {
    std::printf("not enough memory to %s the settings file\n", operation);
}

// Changes the shared record under the lock and saves it; 0 without a view.
template <class Change>
BOOL ChangeAndSave(CVersionConfig& config, Change change) {
    VersionConfigView* view = SharedView();
    if (view == nullptr) return FALSE;
    ScopedLock lock(config);
    change(view->record);
    return config.Save(nullptr);
}

// Loads the named file, changes the record and saves it, under one hold of
// the lock.
template <class Change>
BOOL ChangeFileAndSave(CVersionConfig& config, const char* path, Change change) {
    ScopedLock lock(config);
    if (!config.Load(path)) return FALSE;
    change(SharedView()->record);
    return config.Save(path);
}

}  // namespace

SettingsSource LocateSettingsFile(std::string* path) {
    if (path == nullptr) return SettingsSource::kNone;
    std::string directory;
    SettingsSource source = SettingsSource::kRegistry;
    if (!RegistryDirectory(&directory)) {
        source = SettingsSource::kExecutableDirectory;
        if (!kavex::config::HostExecutableDirectory(kSettingsPathLimit, &directory))
            return SettingsSource::kNone;
    }
    if (!kavex::config::ComposePath(directory, kSettingsFileName, kSettingsPathLimit, path)) {
        return SettingsSource::kNone;
    }
    return source;
}

}  // namespace kavex::settings

using kavex::settings::ScopedLock;
using kavex::settings::SharedView;

CVersionConfig::CVersionConfig(const char* path, BOOL createIfMissing)
    : m_hMutex(CreateMutexA(nullptr, FALSE, kavex::settings::kMutexName)) {
    ScopedLock lock(*this);
    kavex::settings::SetUpSharedView(*this, path, createIfMissing);
}

CVersionConfig::~CVersionConfig() {
    if (m_hMutex != nullptr) CloseHandle(m_hMutex);
    m_hMutex = nullptr;
}

void CVersionConfig::Lock() {
    // WAIT_ABANDONED: the owner ended holding it, and this thread owns it now.
    if (m_hMutex != nullptr) WaitForSingleObject(m_hMutex, INFINITE);
}

void CVersionConfig::Unlock() {
    if (m_hMutex != nullptr) ReleaseMutex(m_hMutex);
}

BOOL CVersionConfig::GetConfigPath(char* path) {
    if (path == nullptr) return FALSE;
    std::string composed;
    if (kavex::settings::LocateSettingsFile(&composed) == kavex::settings::SettingsSource::kNone)
        return FALSE;
    std::memcpy(path, composed.data(), composed.size());
    return kavex::config::PathExists(composed.c_str()) ? TRUE : FALSE;
}

BOOL CVersionConfig::ConfigFileExists() {
    char path[kavex::settings::kSettingsPathLimit] = {};
    return GetConfigPath(path);
}

namespace kavex::settings {

LoadOutcome LoadSettingsFile(CVersionConfig& config, const char* path) {
    VersionConfigView* view = SharedView();
    if (view == nullptr || (path != nullptr && !FitsPathSlot(path))) return LoadOutcome::kRefused;
    ScopedLock lock(config);
    try {
        char name[kSettingsPathLimit] = {};
        if (path != nullptr) {
            std::memcpy(name, path, TextLength(path, sizeof name - 1));
        } else if (!config.GetConfigPath(name)) {
            return name[0] != '\0' ? LoadOutcome::kMissing : LoadOutcome::kRefused;
        }
        StorePath(*view, name);

        VersionConfigRecord plain;
        std::size_t length = 0;
        const auto result = kavex::config::ReadSealedPrefix(name, reinterpret_cast<std::uint8_t*>(&plain),
                                                            kRecordSize, &length, SettingsFileModes());
        switch (result.status) {
            case kavex::config::SealedReadStatus::kOk: break;
            case kavex::config::SealedReadStatus::kMissing: return LoadOutcome::kMissing;
            default: std::printf("%s\n", result.error.c_str()); return LoadOutcome::kFileError;
        }
        if (length == kOldFormSize) {
            // The older form: its first 478 bytes over the record's, no CRC to
            // test, and the file rewritten in the current form (still under
            // the lock, so no other save comes between).
            std::memcpy(&view->record, &plain, kOldFormCopied);
            config.Save(nullptr);
            return LoadOutcome::kLoaded;
        }
        if (length != kRecordSize) return LoadOutcome::kInvalid;
        switch (CheckTrailer(plain)) {
            case TrailerCheck::kMatches: break;
            case TrailerCheck::kDiffers: return LoadOutcome::kInvalid;
            case TrailerCheck::kUnknown: ReportMemoryShortage("check"); return LoadOutcome::kFileError;
        }
        std::memcpy(&view->record, &plain, kRecordSize);
        return LoadOutcome::kLoaded;
    } catch (const std::bad_alloc&) {
        ReportMemoryShortage("load");
        return LoadOutcome::kFileError;
    }
}

}  // namespace kavex::settings

BOOL CVersionConfig::Load(const char* path) {
    return kavex::settings::LoadSettingsFile(*this, path) == kavex::settings::LoadOutcome::kLoaded ? TRUE
                                                                                                   : FALSE;
}

BOOL CVersionConfig::Save(const char* path) {
    VersionConfigView* view = SharedView();
    if (view == nullptr || (path != nullptr && !kavex::settings::FitsPathSlot(path))) return FALSE;
    ScopedLock lock(*this);
    try {
        char name[kavex::settings::kSettingsPathLimit] = {};
        if (path != nullptr) {
            std::memcpy(name, path, kavex::settings::TextLength(path, sizeof name - 1));
        } else if (view->path[0] != '\0') {
            std::memcpy(name, view->path, kavex::settings::TextLength(view->path, sizeof name - 1));
        } else {
            GetConfigPath(name);  // a missing file is created
            if (name[0] == '\0') return FALSE;
        }
        kavex::settings::StorePath(*view, name);
        SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);  // a read-only or hidden file is rewritten too
        std::string error;
        if (kavex::config::WriteSealedFile(name, &view->record, kavex::settings::kRecordSize, &error,
                                           kavex::settings::SettingsFileModes())) {
            return TRUE;
        }
        std::printf("%s\n", error.c_str());
    } catch (const std::bad_alloc&) {
        kavex::settings::ReportMemoryShortage("save");
    }
    return FALSE;
}

BOOL CVersionConfig::GetRecord(VersionConfigRecord* out) {
    VersionConfigView* view = SharedView();
    if (view == nullptr || out == nullptr) return FALSE;
    std::memcpy(out, &view->record, sizeof *out);
    return TRUE;
}

BOOL CVersionConfig::SetRecord(const VersionConfigRecord* in) {
    VersionConfigView* view = SharedView();
    if (view == nullptr || in == nullptr) return FALSE;
    ScopedLock lock(*this);
    std::memmove(&view->record, in, sizeof view->record);
    return Save(nullptr);
}

// Single fields of the current settings file: stored and saved under the lock.

BOOL CVersionConfig::SetNumber743(int value) {
    return kavex::settings::ChangeAndSave(*this,
                                          [&](VersionConfigRecord& record) { record.Number743 = value; });
}

BOOL CVersionConfig::SetNumber757(int value) {
    return kavex::settings::ChangeAndSave(*this,
                                          [&](VersionConfigRecord& record) { record.Number757 = value; });
}

BOOL CVersionConfig::SetByte454(BYTE value) {
    return kavex::settings::ChangeAndSave(*this,
                                          [&](VersionConfigRecord& record) { record.Byte454 = value; });
}

BOOL CVersionConfig::SetByte736(int flag) {
    return kavex::settings::ChangeAndSave(
        *this, [&](VersionConfigRecord& record) { record.Byte736 = flag == 0 ? 1 : 0; });
}

BOOL CVersionConfig::SetIdType(unsigned index, const char* text) {
    VersionConfigView* view = SharedView();
    if (view == nullptr || text == nullptr ||
        index >= static_cast<unsigned>(kavex::settings::kIdTypeEntries)) {
        return FALSE;
    }
    ScopedLock lock(*this);
    const std::int32_t count = view->record.IdTypeCount;
    if (count <= 0 || index >= static_cast<unsigned>(count)) return FALSE;
    char* entry = view->record.IdTypes[index];
    std::memset(entry, 0, kavex::settings::kIdTypeEntryWidth);
    std::memcpy(entry, text, kavex::settings::TextLength(text, kavex::settings::kIdTypeMaxLength));
    return Save(nullptr);
}

// Fields of a named file: loaded, changed and saved under one hold of the lock.

BOOL CVersionConfig::SetVersionNumber(const char* path, int value) {
    return kavex::settings::ChangeFileAndSave(*this, path, [&](VersionConfigRecord& record) {
        record.VersionNumber = value;
        record.VersionByte = static_cast<BYTE>(value & 0xFF);
    });
}

BOOL CVersionConfig::SetQuorelinkEdition(const char* path, int value) {
    return kavex::settings::ChangeFileAndSave(
        *this, path, [&](VersionConfigRecord& record) { record.QuorelinkEdition = value; });
}

BOOL CVersionConfig::SetBroadband(const char* path, int value) {
    return kavex::settings::ChangeFileAndSave(*this, path,
                                              [&](VersionConfigRecord& record) { record.Broadband = value; });
}

int CVersionConfig::GetBroadband(const char* path) { return Load(path) ? SharedView()->record.Broadband : 0; }

BOOL CVersionConfig::SetCafeSystem(const char* path, WORD value) {
    return kavex::settings::ChangeFileAndSave(
        *this, path, [&](VersionConfigRecord& record) { record.CafeSystem = value; });
}

BOOL CVersionConfig::SetByte451(const char* path, BYTE value) {
    return kavex::settings::ChangeFileAndSave(*this, path,
                                              [&](VersionConfigRecord& record) { record.Byte451 = value; });
}

BOOL CVersionConfig::SetByte500(const char* path, BYTE value) {
    return kavex::settings::ChangeFileAndSave(*this, path,
                                              [&](VersionConfigRecord& record) { record.Byte500 = value; });
}

BOOL CVersionConfig::SetNumber737(const char* path, int value) {
    return kavex::settings::ChangeFileAndSave(*this, path,
                                              [&](VersionConfigRecord& record) { record.Number737 = value; });
}

int CVersionConfig::GetInitFlag(const char* path) { return Load(path) ? SharedView()->record.InitFlag : 0; }

int CVersionConfig::GetByte825(const char* path) { return Load(path) ? SharedView()->record.Byte825 : 0; }

BOOL CVersionConfig::GetRegion(const char* path, char* out) {
    if (out == nullptr || !Load(path)) return FALSE;
    const VersionConfigRecord& record = SharedView()->record;
    constexpr std::size_t kRegionCharacters = sizeof record.Region - 1;
    std::memset(out, 0, kRegionCharacters);
    std::memcpy(out, record.Region, kavex::settings::TextLength(record.Region, kRegionCharacters));
    return TRUE;
}
