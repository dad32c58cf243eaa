// The sealed-file loaders over a fuzzed file.
//
// The first byte picks the sealed file (kSealedFiles) and how the rest of
// the input is used:
//   bit 0 clear: the rest is the file as it lies on disk, so that lengths,
//                envelopes and trailers of every kind reach the loader;
//   bit 0 set:   the rest is the record in the clear (missing bytes zero),
//                sealed here with a matching trailer, so that every field
//                value reaches the code behind the check; bit 1 appends the
//                bytes beyond the record.
// Every file is checked through ReadSealedFile: only a verified record is
// copied out, and it seals back to exactly the file's first bytes. The
// file's own loader then runs its checks: CPortConfig for
// "ipportconfig.ini"; for "qelversion.cfg", CVersionConfig::Load into the
// shared settings view (the older 482-byte form included), then the
// settings report and the cafe-management system's name over whatever
// record that left.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/port_config.h"
#include "config/rc4.h"
#include "config/sealed_file.h"
#include "fuzz_support.h"
#include "platform/posix/module_path.h"
#include "settings/settings_report.h"
#include "settings/version_config.h"

using kavex::fuzz::FuzzInput;

namespace {

// A text getter of CPortConfig and the width of its field.
struct TextGetter {
    BOOL (CPortConfig::*get)(char*);
    std::size_t width;
};
constexpr TextGetter kTextGetters[] = {
    {&CPortConfig::GetText0, 16},   {&CPortConfig::GetText16, 36},  {&CPortConfig::GetText52, 36},
    {&CPortConfig::GetText125, 31}, {&CPortConfig::GetText156, 31}, {&CPortConfig::GetText188, 100},
    {&CPortConfig::GetText288, 20},
};

// "ipportconfig.ini" as the exported functions load it: CPortConfig beside
// the host executable. `verified` is the record when the file verified.
void LoadPortConfig(const std::string& directory, const std::string& /*image*/,
                    const std::uint8_t* verified) {
    const std::string host = directory + "/host-program";
    kavex::posix::OverrideModuleFileName(host.c_str());
    CPortConfig config;
    KAVEX_FUZZ_CHECK(config.m_pRecord != nullptr);
    if (verified != nullptr) {
        KAVEX_FUZZ_CHECK(std::memcmp(config.m_pRecord, verified, sizeof(PortConfigRecord)) == 0);
    } else {
        PortConfigRecord defaults;
        CPortConfig::SetDefaults(defaults);
        KAVEX_FUZZ_CHECK(std::memcmp(config.m_pRecord, &defaults, sizeof defaults) == 0);
    }
    // Each getter writes only within its field's width and a terminator.
    for (const TextGetter& getter : kTextGetters) {
        char buffer[128];
        std::memset(buffer, 0, getter.width + 1);
        std::memset(buffer + getter.width + 1, 0x5A, sizeof buffer - getter.width - 1);
        if ((config.*getter.get)(buffer)) {
            KAVEX_FUZZ_CHECK(std::strlen(buffer) <= getter.width);
        }
        for (std::size_t k = getter.width + 1; k < sizeof buffer; ++k) KAVEX_FUZZ_CHECK(buffer[k] == 0x5A);
    }
    const int byte187 = config.GetByte187();
    KAVEX_FUZZ_CHECK(byte187 >= 1 && byte187 <= 20);
    for (int type = -1; type <= 6; ++type) {
        const int port = config.GetFurtherPort(type);
        KAVEX_FUZZ_CHECK(type >= 1 && type <= 4 ? port >= 0 && port <= 255 : port == -1);
    }
    KAVEX_FUZZ_CHECK(config.GetPrimaryPort() >= 0 && config.GetPrimaryPort() <= 255);
    config.GetDailyCount();
    kavex::posix::OverrideModuleFileName(nullptr);
}

std::string Seal(std::string plain);
std::string Unseal(const std::string& image);

// The process's settings view, set up once over an empty prefix of its own
// (named objects and registry), so that each input starts from a view that
// exists and only Load changes it.
CVersionConfig& SettingsView(const std::string& directory) {
    static CVersionConfig* config = [&directory] {
        const std::string prefix = directory + "/prefix";
        ::mkdir(prefix.c_str(), 0700);
        ::setenv("KAVEX_PREFIX", prefix.c_str(), 1);
        static CVersionConfig view((directory + "/absent.cfg").c_str(), FALSE);
        return &view;
    }();
    return *config;
}

// "qelversion.cfg" loaded into the shared view: a verified record replaces
// the view's whole record; the older 482-byte form its first 478 bytes, and
// the file is then rewritten in the current form; anything else changes
// nothing. The report and the system's name then read whatever the record
// holds without reading past a field.
void LoadVersionConfig(const std::string& directory, const std::string& image, const std::uint8_t* verified) {
    CVersionConfig& config = SettingsView(directory);
    VersionConfigView* view = kavex::settings::SharedView();
    KAVEX_FUZZ_CHECK(view != nullptr);
    std::memset(&view->record, 0x5A, sizeof view->record);
    VersionConfigRecord before;
    std::memcpy(&before, &view->record, sizeof before);

    const std::string path = directory + "/" + kavex::settings::kSettingsFileName;
    const BOOL loaded = config.Load(path.c_str());
    const bool oldForm = image.size() == kavex::settings::kOldFormSize;
    KAVEX_FUZZ_CHECK(loaded == (verified != nullptr || oldForm));
    const auto* record = reinterpret_cast<const std::uint8_t*>(&view->record);
    if (verified != nullptr) {
        KAVEX_FUZZ_CHECK(std::memcmp(record, verified, sizeof(VersionConfigRecord)) == 0);
    } else if (oldForm) {
        const std::string plain = Unseal(image);
        KAVEX_FUZZ_CHECK(std::memcmp(record, plain.data(), kavex::settings::kOldFormCopied) == 0);
        // The rest is as it was, but for the Checksum the rewrite updated.
        const auto* rest = reinterpret_cast<const std::uint8_t*>(&before) + kavex::settings::kOldFormCopied;
        KAVEX_FUZZ_CHECK(
            std::memcmp(record + kavex::settings::kOldFormCopied, rest,
                        offsetof(VersionConfigRecord, Checksum) - kavex::settings::kOldFormCopied) == 0);
        // Rewritten in the current form: it verifies and holds the record.
        std::vector<std::uint8_t> saved(sizeof(VersionConfigRecord));
        const auto result = kavex::config::ReadSealedFile(path.c_str(), saved.data(), saved.size());
        KAVEX_FUZZ_CHECK(result.status == kavex::config::SealedReadStatus::kOk);
        KAVEX_FUZZ_CHECK(std::memcmp(saved.data(), record, sizeof(VersionConfigRecord)) == 0);
    } else {
        KAVEX_FUZZ_CHECK(std::memcmp(record, &before, sizeof before) == 0);
    }

    const std::string report = directory + "/report.txt";
    KAVEX_FUZZ_CHECK(WriteSettingsReport(report.c_str()) == TRUE);
    std::string name;
    const BOOL named = GetCafeSystemName(name);
    KAVEX_FUZZ_CHECK(named == TRUE || named == FALSE);
    KAVEX_FUZZ_CHECK(!name.empty() && name.size() < 64);
}

// Every sealed file of the system: its name, record size and loader (null:
// the envelope checks only).
struct SealedFile {
    const char* name;
    std::size_t recordSize;
    void (*load)(const std::string& directory, const std::string& image, const std::uint8_t* verified);
};
const SealedFile kSealedFiles[] = {
    {kavex::config::kPortConfigFileName, sizeof(PortConfigRecord), LoadPortConfig},
    {kavex::settings::kSettingsFileName, sizeof(VersionConfigRecord), LoadVersionConfig},
};
constexpr std::size_t kSealedFileCount = sizeof kSealedFiles / sizeof kSealedFiles[0];

std::string Unseal(const std::string& image) {
    std::string plain(image.size(), '\0');
    const CRc4 rc4;
    rc4.CryptCopy(kavex::config::kSealingKey, kavex::config::kSealingKeyLength,
                  reinterpret_cast<const std::uint8_t*>(image.data()), static_cast<int>(image.size()),
                  reinterpret_cast<std::uint8_t*>(plain.data()), static_cast<int>(plain.size()));
    return plain;
}

std::string Seal(std::string plain) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(plain.data());
    kavex::config::StoreTrailer(bytes, plain.size());
    std::string sealed(plain.size(), '\0');
    const CRc4 rc4;
    rc4.CryptCopy(kavex::config::kSealingKey, kavex::config::kSealingKeyLength, bytes,
                  static_cast<int>(plain.size()), reinterpret_cast<std::uint8_t*>(sealed.data()),
                  static_cast<int>(sealed.size()));
    return sealed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t mode = input.Byte();
    const SealedFile& file = kSealedFiles[(mode >> 2) % kSealedFileCount];
    std::string image;
    if (mode & 1) {
        std::string plain = input.Bytes(file.recordSize);
        plain.resize(file.recordSize, '\0');
        image = Seal(plain);
        if (mode & 2) image += input.Rest();
    } else {
        image = input.Rest();
    }
    const std::string& directory = kavex::fuzz::ScratchDirectory();
    const std::string path = directory + "/" + file.name;
    kavex::fuzz::PutFile(path, &image);

    std::vector<std::uint8_t> record(file.recordSize, 0xA5);
    const std::vector<std::uint8_t> untouched = record;
    const auto result = kavex::config::ReadSealedFile(path.c_str(), record.data(), record.size());
    using kavex::config::SealedReadStatus;
    KAVEX_FUZZ_CHECK(result.status != SealedReadStatus::kMissing &&
                     result.status != SealedReadStatus::kFileError);
    KAVEX_FUZZ_CHECK(result.fileLength == image.size());
    KAVEX_FUZZ_CHECK((result.status == SealedReadStatus::kShort) == (image.size() < file.recordSize));
    if (result.status == SealedReadStatus::kOk) {
        const std::string plain(reinterpret_cast<const char*>(record.data()), record.size());
        KAVEX_FUZZ_CHECK(Seal(plain) == image.substr(0, file.recordSize));
    } else {
        KAVEX_FUZZ_CHECK(record == untouched);
    }
    if (mode & 1) KAVEX_FUZZ_CHECK(result.status == SealedReadStatus::kOk);
    if (file.load != nullptr) {
        file.load(directory, image, result.status == SealedReadStatus::kOk ? record.data() : nullptr);
    }
    return 0;
}
