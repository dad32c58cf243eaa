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
// file's own loader then runs its checks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/port_config.h"
#include "config/rc4.h"
#include "config/sealed_file.h"
#include "fuzz_support.h"
#include "platform/posix/module_path.h"

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
void LoadPortConfig(const std::string& directory, const std::uint8_t* verified) {
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

// Every sealed file of the system: its name, record size and loader (null:
// the envelope checks only). The settings file joins with one line, e.g.
//   {"qelversion.cfg", sizeof(VersionConfigRecord), LoadVersionConfig},
struct SealedFile {
    const char* name;
    std::size_t recordSize;
    void (*load)(const std::string& directory, const std::uint8_t* verified);
};
const SealedFile kSealedFiles[] = {
    {kavex::config::kPortConfigFileName, sizeof(PortConfigRecord), LoadPortConfig},
};
constexpr std::size_t kSealedFileCount = sizeof kSealedFiles / sizeof kSealedFiles[0];

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
        file.load(directory, result.status == SealedReadStatus::kOk ? record.data() : nullptr);
    }
    return 0;
}
