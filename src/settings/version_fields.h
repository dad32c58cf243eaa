// The field table of the registration settings record: one row per named
// field, in record order, with its place and width, its type, its argument
// position in CVersionConfig::SetAll, its default and its rows in the
// settings report. The defaults, SetAll's stores, the report and kavexctl
// are all driven from this one table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/version_record.h"

namespace kavex::settings {

enum class FieldType : std::uint8_t {
    kInt32,      // signed 32-bit integer (also the 32-bit flags)
    kUInt8,      // unsigned byte (also the 8-bit flags)
    kUInt16,     // unsigned 16-bit integer
    kUInt32,     // unsigned 32-bit integer
    kTime,       // unsigned 32-bit seconds since 1970 UTC; SetAll takes a date-time text
    kIpAddress,  // four address bytes in network order, handled as one 32-bit integer
    kText,       // GBK text of at most width - 1 bytes
    kBlock,      // bytes copied whole
    kIdTypes,    // 10 entries of 10 bytes, each a text of at most 8 bytes
};

// How a report row shows its field's value.
enum class ReportStyle : std::uint8_t {
    kNone,            // the field has no row
    kDecimal,         // signed decimal
    kUnsigned,        // unsigned decimal
    kText,            // the stored text
    kWords,           // whenSet for a non-zero value, whenClear for 0
    kChoice,          // whenSet for 1, whenClear for 2, else the choice carried from the row before
    kIdTypeList,      // the valid IdTypes entries, each followed by two spaces
    kCafeSystemList,  // the names of the CafeSystems bits set, each followed by two spaces
};

struct ReportRow {
    int line;           // the row's line in the report; 0 when there is none
    const char* label;  // GBK
    int spaces;         // between the label and the value
    ReportStyle style;
    const char* whenSet;
    const char* whenClear;
};

struct VersionField {
    const char* name;  // the record's member name
    std::size_t offset;
    std::size_t width;  // bytes in the record
    FieldType type;
    int setAllPosition;          // 1 .. kSetAllArgumentCount; 0 when SetAll keeps the field
    std::uint32_t defaultValue;  // integer fields: the value of a fresh view
    const char* defaultText;     // text fields: the text of a fresh view (null: empty)
    ReportRow report;
    ReportRow secondReport;  // FastChannel alone has a second row
};

constexpr int kSetAllArgumentCount = 171;
constexpr int kIdTypeEntries = 10;
constexpr std::size_t kIdTypeEntryWidth = 10;
constexpr std::size_t kIdTypeMaxLength = 8;

// GBK texts shared by the report and the view.
extern const char kYesText[];  // "是"
extern const char kNoText[];   // "否"

// Every named field in record order; reserved bytes have no row.
const VersionField* VersionFields();
std::size_t VersionFieldCount();
// The row of a field by its name, or null.
const VersionField* FindVersionField(const char* name);
// The row whose SetAll position is `position`, or null.
const VersionField* FieldAtSetAllPosition(int position);

// An integer field's value (kInt32 sign-extended; kIpAddress and kTime as
// unsigned 32-bit values). 0 for a field that is not an integer.
std::int64_t ReadInteger(const VersionConfigRecord& record, const VersionField& field);
// Stores the low bits of `value` that the field holds, little-endian.
void WriteInteger(VersionConfigRecord& record, const VersionField& field, std::uint32_t value);

// The length of the text in a field of `width` bytes: up to its terminator,
// and never past the field's end.
std::size_t TextLength(const char* field, std::size_t width);
// The address of a field's bytes in the record.
const char* FieldBytes(const VersionConfigRecord& record, const VersionField& field);
char* FieldBytes(VersionConfigRecord& record, const VersionField& field);

// Zero-fills the record and writes every field's default: the record a
// freshly set-up view holds before its file is loaded.
void WriteDefaults(VersionConfigRecord& record);

// The values that the view's set-up fills in after its load when they are
// still 0; they are not saved.
constexpr std::uint8_t kFillInVersionByte = 29;
constexpr std::int32_t kFillInIpPort = 8998;
constexpr std::uint32_t kFillInIpAddress = 0xFA00A8C0u;  // 192.168.0.250
void FillInUnsetValues(VersionConfigRecord& record);

}  // namespace kavex::settings
