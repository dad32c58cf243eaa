// The port configuration: the sealed record "ipportconfig.ini" beside the
// host program's executable, which names the COM port of the primary card
// reader and of up to four further readers, and carries other settings the
// module keeps, loads and saves without giving them a role.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/win32.h"

#pragma pack(push, 1)
// The 10432-byte record: packed, integers little-endian, texts in the
// system's ANSI code page (GBK), NUL-terminated only when shorter than
// their field.
struct PortConfigRecord {
    char Text0[16];  // its emptiness also gates GetText125 and GetText156
    char Text16[36];
    char Text52[36];
    std::int32_t Number88;
    std::int32_t Number92;
    std::int32_t Number96;
    std::int32_t Number100;
    std::int32_t Number104;
    std::int32_t Number108;
    std::int32_t Number112;
    std::uint8_t PrimaryPort;  // COM port number of the primary reader (1 = COM1)
    std::int32_t Number117;
    std::int32_t Number121;
    char Text125[31];
    char Text156[31];
    std::uint8_t Byte187;  // valid range 1 .. 20
    char Text188[100];
    char Text288[20];
    std::int32_t Number308;
    std::int32_t Number312;
    std::uint8_t FurtherPorts[4];  // element k: COM port of further reader k+1; 0 = none
    std::int32_t Number320;
    std::int32_t DailyCount;      // the count of the day DailyCountDay names
    std::uint32_t DailyCountDay;  // day key (see DayKeyAt)
    std::int16_t Short332;
    std::uint8_t Reserved[10094];  // kept as the file has it
    std::uint32_t Checksum;        // CRC-32 of bytes 0 .. 10427
};
#pragma pack(pop)

static_assert(sizeof(PortConfigRecord) == 10432, "PortConfigRecord must be 10432 bytes");
static_assert(offsetof(PortConfigRecord, Text16) == 16);
static_assert(offsetof(PortConfigRecord, Text52) == 52);
static_assert(offsetof(PortConfigRecord, Number88) == 88);
static_assert(offsetof(PortConfigRecord, Number92) == 92);
static_assert(offsetof(PortConfigRecord, Number96) == 96);
static_assert(offsetof(PortConfigRecord, Number100) == 100);
static_assert(offsetof(PortConfigRecord, Number104) == 104);
static_assert(offsetof(PortConfigRecord, Number108) == 108);
static_assert(offsetof(PortConfigRecord, Number112) == 112);
static_assert(offsetof(PortConfigRecord, PrimaryPort) == 116);
static_assert(offsetof(PortConfigRecord, Number117) == 117);
static_assert(offsetof(PortConfigRecord, Number121) == 121);
static_assert(offsetof(PortConfigRecord, Text125) == 125);
static_assert(offsetof(PortConfigRecord, Text156) == 156);
static_assert(offsetof(PortConfigRecord, Byte187) == 187);
static_assert(offsetof(PortConfigRecord, Text188) == 188);
static_assert(offsetof(PortConfigRecord, Text288) == 288);
static_assert(offsetof(PortConfigRecord, Number308) == 308);
static_assert(offsetof(PortConfigRecord, Number312) == 312);
static_assert(offsetof(PortConfigRecord, FurtherPorts) == 316);
static_assert(offsetof(PortConfigRecord, Number320) == 320);
static_assert(offsetof(PortConfigRecord, DailyCount) == 324);
static_assert(offsetof(PortConfigRecord, DailyCountDay) == 328);
static_assert(offsetof(PortConfigRecord, Short332) == 332);
static_assert(offsetof(PortConfigRecord, Reserved) == 334);
static_assert(offsetof(PortConfigRecord, Checksum) == 10428);

namespace kavex::config {

// The file's name, in the host executable's directory.
constexpr const char kPortConfigFileName[] = "ipportconfig.ini";

// The reader type names (GBK), in their fixed order. Nothing indexes them.
constexpr int kReaderTypeCount = 5;
extern const char* const kReaderTypeNames[kReaderTypeCount];

// The day key of moment t (seconds since 1970 UTC): the UTC moment of the
// midnight, in UTC+8, that began the day before t's day.
std::uint32_t DayKeyAt(std::uint32_t t);

// How the setter of a text field stores a text: it clears the first
// `cleared` bytes of the field, then copies at most `copied` characters (a
// shorter text leaves NUL bytes after it). The setters differ: SetText125
// fills its 31 bytes, SetText156 keeps a NUL in its last byte, SetText188
// never writes its last byte.
struct TextSetterRule {
    const char* name;
    std::size_t offset;
    std::size_t width;
    std::size_t cleared;
    std::size_t copied;
};
constexpr int kTextFieldCount = 7;
extern const TextSetterRule kTextSetterRules[kTextFieldCount];  // in record order
// The rule of the text field `name`, or null.
const TextSetterRule* FindTextSetterRule(const char* name);
// Stores `text` into `record` exactly as the field's setter does.
void StoreTextField(PortConfigRecord& record, const TextSetterRule& rule, const char* text);

// The clock the daily counter reads (seconds since 1970 UTC); tests replace
// it. Null restores the C run-time clock.
using ClockSource = std::uint32_t (*)();
void SetClockSource(ClockSource clock);

}  // namespace kavex::config

// Owns one PortConfigRecord in memory: the defaults, then the file's
// contents when the file is present and verifies. Every setter stores its
// field and saves the whole record; destruction never saves.
//
// An object without a record (its allocation failed) does nothing: getters
// give 0 (GetFurtherPort -1 for a type outside 1 .. 4), setters, Load and
// Save give 0.
class CPortConfig {
public:
    // Fills the record with its defaults and loads the file over them.
    CPortConfig();
    virtual ~CPortConfig();
    CPortConfig(const CPortConfig&) = delete;
    CPortConfig& operator=(const CPortConfig&) = delete;

    // Writes the full path of the file (without a terminator: the caller
    // passes a zero-filled buffer of MAX_PATH bytes) and tells whether the
    // file exists. 0 with nothing written when the path would not fit in
    // 259 characters.
    BOOL GetConfigPath(char* path);
    BOOL ConfigFileExists();
    // Replaces the whole record with the file's when it is present and
    // verifies; 1 then, else 0 with the record as it was.
    BOOL Load();
    // Writes the whole record to the file (see kavex::config::WriteSealedFile).
    BOOL Save();

    // Further reader 1 .. 4: its COM port number (0: none, also for an object
    // without a record); -1 for any other type.
    int GetFurtherPort(int type);

    // Text getters copy into the caller's buffer, which must be one byte
    // longer than the field. 0 (buffer untouched) when the tested field is
    // empty. GetText0/16/52/125 copy without a terminator (the buffer must be
    // zero-filled); the others terminate. GetText125/156 test Text0.
    BOOL GetText0(char* buffer);
    BOOL GetText16(char* buffer);
    BOOL GetText52(char* buffer);
    BOOL GetText125(char* buffer);
    BOOL GetText156(char* buffer);
    BOOL GetText188(char* buffer);
    BOOL GetText288(char* buffer);

    int GetNumber88();
    int GetNumber96();
    int GetNumber100();
    int GetNumber104();
    int GetNumber108();
    int GetNumber112();
    int GetPrimaryPort();
    int GetNumber121();
    // A stored value of 0 or above 20 is repaired to 2 in memory (not saved).
    int GetByte187();
    int GetNumber308();

    // Every setter stores the field, saves, and returns Save's result; the
    // new value stays in memory either way.
    BOOL SetText0(const char* text);    // up to 16 characters
    BOOL SetText16(const char* text);   // up to 36
    BOOL SetText52(const char* text);   // up to 36
    BOOL SetText125(const char* text);  // up to 31
    BOOL SetText156(const char* text);  // up to 30, so a NUL always follows
    BOOL SetText188(const char* text);  // up to 99; the field's last byte is kept
    BOOL SetText288(const char* text);  // up to 19
    BOOL SetNumber88(int value);
    BOOL SetNumber92(int value);
    BOOL SetNumber96(int value);
    BOOL SetNumber100(int value);
    BOOL SetNumber104(int value);
    BOOL SetNumber108(int value);
    BOOL SetNumber112(int value);
    BOOL SetPrimaryPort(int value);  // the low 8 bits
    BOOL SetNumber117(int value);
    BOOL SetNumber121(int value);
    BOOL SetNumber308(int value);
    BOOL SetNumber312(int value);
    BOOL SetNumber320(int value);
    BOOL SetShort332(int value);  // the low 16 bits

    // Today's count (UTC+8 days), 0 when the stored day is not today.
    int GetDailyCount();
    // Adds n to today's count; a new day starts the count at 1 (not n). Saves.
    BOOL AddDailyCount(int n);

    // Fills a record with the defaults.
    static void SetDefaults(PortConfigRecord& record);

protected:
    // For an object built around a given record (null: none).
    explicit CPortConfig(std::unique_ptr<PortConfigRecord> record);

private:
    // Stores the text as the rule of field `name` says and saves.
    BOOL SetTextField(const char* name, const char* text);

    std::unique_ptr<PortConfigRecord> m_record;

public:
    // The record, owned by the object; null only when allocation failed.
    PortConfigRecord* const m_pRecord;
};
