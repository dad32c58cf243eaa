#include "config/port_config.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "config/file_location.h"
#include "config/sealed_file.h"

namespace kavex::config {

const char* const kReaderTypeNames[kReaderTypeCount] = {
    "\xB4\xAE\xBF\xDA\xB6\xC1\xBF\xA8\xC6\xF7",  // serial-port card reader
    "SievoraMF1\xB6\xC1\xBF\xA8\xC6\xF7",        // Sievora MF1 card reader
    "\xD0\xC2\xD6\xD0\xD0\xC4"
    "3"
    "\xBA\xCF\xD2\xBB\xB6\xC1\xBF\xA8\xC6\xF7",                                    // 3-in-1 card reader
    "\xD0\xC5\xCC\xCE\xB6\xC1\xBF\xA8\xC6\xF7",                                    // card reader of the brand
    "\xB7\xBD\xBF\xA8\xB6\xC1\xBF\xA8\xC6\xF7(\xB1\xEA\xD7\xBC\xBD\xD3\xBF\xDA)",  // standard interface
};

namespace {

std::atomic<ClockSource> g_clock{nullptr};

std::uint32_t Now() {
    const ClockSource clock = g_clock.load();
    return clock != nullptr ? clock() : static_cast<std::uint32_t>(std::time(nullptr));
}

// The full path of "ipportconfig.ini" beside the host executable, at most
// 259 characters. False when the executable's path is unknown or the result
// would not fit.
bool ComposeConfigPath(std::string* path) {
    std::string directory;
    return HostExecutableDirectory(MAX_PATH, &directory) &&
           ComposePath(directory, kPortConfigFileName, MAX_PATH, path);
}

// The length of a text of at most `limit` characters (strnlen is not
// standard C++).
std::size_t BoundedLength(const char* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') ++length;
    return length;
}

template <std::size_t N>
bool Empty(const char (&field)[N]) {
    return field[0] == '\0';
}

// Copies the field's characters (at most its width) without a terminator.
template <std::size_t N>
void CopyOut(const char (&field)[N], char* buffer) {
    std::memcpy(buffer, field, BoundedLength(field, N));
}

// Copies at most `limit` characters of the field and a terminating NUL.
template <std::size_t N>
void CopyOutTerminated(const char (&field)[N], char* buffer, std::size_t limit = N) {
    const std::size_t length = BoundedLength(field, limit);
    std::memcpy(buffer, field, length);
    buffer[length] = '\0';
}

std::unique_ptr<PortConfigRecord> AllocateRecord() {
    try {
        return std::make_unique<PortConfigRecord>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

#define KAVEX_TEXT_RULE(field, cleared, copied) \
    { #field, offsetof(PortConfigRecord, field), sizeof(PortConfigRecord::field), cleared, copied }
const TextSetterRule kTextSetterRules[kTextFieldCount] = {
    KAVEX_TEXT_RULE(Text0, 16, 16),   KAVEX_TEXT_RULE(Text16, 36, 36),  KAVEX_TEXT_RULE(Text52, 36, 36),
    KAVEX_TEXT_RULE(Text125, 31, 31), KAVEX_TEXT_RULE(Text156, 31, 30), KAVEX_TEXT_RULE(Text188, 99, 99),
    KAVEX_TEXT_RULE(Text288, 20, 19),
};
#undef KAVEX_TEXT_RULE

const TextSetterRule* FindTextSetterRule(const char* name) {
    for (const TextSetterRule& rule : kTextSetterRules) {
        if (std::strcmp(rule.name, name) == 0) return &rule;
    }
    return nullptr;
}

void StoreTextField(PortConfigRecord& record, const TextSetterRule& rule, const char* text) {
    char* field = reinterpret_cast<char*>(&record) + rule.offset;
    std::memset(field, 0, rule.cleared);
    std::memcpy(field, text, BoundedLength(text, rule.copied));
}

std::uint32_t DayKeyAt(std::uint32_t t) {
    const std::uint32_t u = t - 86400u;
    const std::uint32_t r = u % 86400u;
    return r >= 57600u ? u - r + 57600u : u - r - 28800u;
}

void SetClockSource(ClockSource clock) { g_clock.store(clock); }

}  // namespace kavex::config

using kavex::config::ReadSealedFile;
using kavex::config::SealedReadStatus;

CPortConfig::CPortConfig() : CPortConfig(kavex::config::AllocateRecord()) {}

CPortConfig::CPortConfig(std::unique_ptr<PortConfigRecord> record)
    : m_record(std::move(record)), m_pRecord(m_record.get()) {
    if (m_pRecord == nullptr) return;
    SetDefaults(*m_pRecord);
    Load();
}

CPortConfig::~CPortConfig() = default;

void CPortConfig::SetDefaults(PortConfigRecord& record) {
    std::memset(&record, 0, sizeof record);
    record.Number88 = 5000;
    record.Number92 = 7777;
    record.Number96 = 4500;
    record.Number100 = 4501;
    record.Number104 = 6500;
    record.Number108 = 8001;
    record.Number112 = 2;
    record.PrimaryPort = 1;
    record.Number117 = 1001;
    record.Byte187 = 2;
}

BOOL CPortConfig::GetConfigPath(char* path) {
    if (path == nullptr) return FALSE;
    std::string composed;
    if (!kavex::config::ComposeConfigPath(&composed)) return FALSE;
    std::memcpy(path, composed.data(), composed.size());
    return kavex::config::PathExists(composed.c_str()) ? TRUE : FALSE;
}

BOOL CPortConfig::ConfigFileExists() {
    char path[MAX_PATH] = {};
    return GetConfigPath(path);
}

BOOL CPortConfig::Load() {
    if (m_pRecord == nullptr) return FALSE;
    // The open itself tells a missing file, without a search before it: the
    // exported functions load the file on every call.
    std::string path;
    if (!kavex::config::ComposeConfigPath(&path)) return FALSE;
    const auto result = ReadSealedFile(path.c_str(), m_pRecord, sizeof *m_pRecord);
    if (result.status == SealedReadStatus::kFileError) std::printf("%s\n", result.error.c_str());
    return result.status == SealedReadStatus::kOk ? TRUE : FALSE;
}

BOOL CPortConfig::Save() {
    if (m_pRecord == nullptr) return FALSE;
    std::string path;
    if (!kavex::config::ComposeConfigPath(&path)) return FALSE;
    std::string error;
    if (kavex::config::WriteSealedFile(path.c_str(), m_pRecord, sizeof *m_pRecord, &error)) return TRUE;
    std::printf("%s\n", error.c_str());
    return FALSE;
}

int CPortConfig::GetFurtherPort(int type) {
    if (type < 1 || type > 4) return -1;
    // Without a record the reader has no port, as with the defaults.
    if (m_pRecord == nullptr) return 0;
    return m_pRecord->FurtherPorts[type - 1];
}

// Text getters.

BOOL CPortConfig::GetText0(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text0)) return FALSE;
    kavex::config::CopyOut(m_pRecord->Text0, buffer);
    return TRUE;
}

BOOL CPortConfig::GetText16(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text16)) return FALSE;
    kavex::config::CopyOut(m_pRecord->Text16, buffer);
    return TRUE;
}

BOOL CPortConfig::GetText52(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text52)) return FALSE;
    kavex::config::CopyOut(m_pRecord->Text52, buffer);
    return TRUE;
}

BOOL CPortConfig::GetText125(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text0)) return FALSE;
    kavex::config::CopyOut(m_pRecord->Text125, buffer);
    return TRUE;
}

BOOL CPortConfig::GetText156(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text0)) return FALSE;
    kavex::config::CopyOutTerminated(m_pRecord->Text156, buffer, 30);
    return TRUE;
}

BOOL CPortConfig::GetText188(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text188)) return FALSE;
    kavex::config::CopyOutTerminated(m_pRecord->Text188, buffer);
    return TRUE;
}

BOOL CPortConfig::GetText288(char* buffer) {
    if (m_pRecord == nullptr || buffer == nullptr || kavex::config::Empty(m_pRecord->Text288)) return FALSE;
    kavex::config::CopyOutTerminated(m_pRecord->Text288, buffer);
    return TRUE;
}

// Number getters.

int CPortConfig::GetNumber88() { return m_pRecord != nullptr ? m_pRecord->Number88 : 0; }
int CPortConfig::GetNumber96() { return m_pRecord != nullptr ? m_pRecord->Number96 : 0; }
int CPortConfig::GetNumber100() { return m_pRecord != nullptr ? m_pRecord->Number100 : 0; }
int CPortConfig::GetNumber104() { return m_pRecord != nullptr ? m_pRecord->Number104 : 0; }
int CPortConfig::GetNumber108() { return m_pRecord != nullptr ? m_pRecord->Number108 : 0; }
int CPortConfig::GetNumber112() { return m_pRecord != nullptr ? m_pRecord->Number112 : 0; }
int CPortConfig::GetPrimaryPort() { return m_pRecord != nullptr ? m_pRecord->PrimaryPort : 0; }
int CPortConfig::GetNumber121() { return m_pRecord != nullptr ? m_pRecord->Number121 : 0; }
int CPortConfig::GetNumber308() { return m_pRecord != nullptr ? m_pRecord->Number308 : 0; }

int CPortConfig::GetByte187() {
    if (m_pRecord == nullptr) return 0;
    if (m_pRecord->Byte187 == 0 || m_pRecord->Byte187 > 20) m_pRecord->Byte187 = 2;
    return m_pRecord->Byte187;
}

// Text setters.

BOOL CPortConfig::SetTextField(const char* name, const char* text) {
    if (m_pRecord == nullptr || text == nullptr) return FALSE;
    kavex::config::StoreTextField(*m_pRecord, *kavex::config::FindTextSetterRule(name), text);
    return Save();
}

BOOL CPortConfig::SetText0(const char* text) { return SetTextField("Text0", text); }
BOOL CPortConfig::SetText16(const char* text) { return SetTextField("Text16", text); }
BOOL CPortConfig::SetText52(const char* text) { return SetTextField("Text52", text); }
BOOL CPortConfig::SetText125(const char* text) { return SetTextField("Text125", text); }
BOOL CPortConfig::SetText156(const char* text) { return SetTextField("Text156", text); }
BOOL CPortConfig::SetText188(const char* text) { return SetTextField("Text188", text); }
BOOL CPortConfig::SetText288(const char* text) { return SetTextField("Text288", text); }

// Number setters.

#define KAVEX_NUMBER_SETTER(name, expression)   \
    BOOL CPortConfig::Set##name(int value) {    \
        if (m_pRecord == nullptr) return FALSE; \
        m_pRecord->name = expression;           \
        return Save();                          \
    }

KAVEX_NUMBER_SETTER(Number88, value)
KAVEX_NUMBER_SETTER(Number92, value)
KAVEX_NUMBER_SETTER(Number96, value)
KAVEX_NUMBER_SETTER(Number100, value)
KAVEX_NUMBER_SETTER(Number104, value)
KAVEX_NUMBER_SETTER(Number108, value)
KAVEX_NUMBER_SETTER(Number112, value)
KAVEX_NUMBER_SETTER(PrimaryPort, static_cast<std::uint8_t>(value & 0xFF))
KAVEX_NUMBER_SETTER(Number117, value)
KAVEX_NUMBER_SETTER(Number121, value)
KAVEX_NUMBER_SETTER(Number308, value)
KAVEX_NUMBER_SETTER(Number312, value)
KAVEX_NUMBER_SETTER(Number320, value)
KAVEX_NUMBER_SETTER(Short332, static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF)))

#undef KAVEX_NUMBER_SETTER

// The daily counter.

int CPortConfig::GetDailyCount() {
    if (m_pRecord == nullptr) return 0;
    return m_pRecord->DailyCountDay == kavex::config::DayKeyAt(kavex::config::Now()) ? m_pRecord->DailyCount
                                                                                     : 0;
}

BOOL CPortConfig::AddDailyCount(int n) {
    if (m_pRecord == nullptr) return FALSE;
    const std::uint32_t today = kavex::config::DayKeyAt(kavex::config::Now());
    if (m_pRecord->DailyCountDay == today) {
        m_pRecord->DailyCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_pRecord->DailyCount) +
                                                          static_cast<std::uint32_t>(n));
    } else {
        m_pRecord->DailyCountDay = today;
        m_pRecord->DailyCount = 1;
    }
    return Save();
}
