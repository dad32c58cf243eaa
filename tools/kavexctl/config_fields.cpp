#include "kavexctl/config_fields.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kavexctl/config_text.h"

namespace kavexctl {

namespace {

constexpr long long kInt32Min = -2147483648LL;
constexpr long long kInt32Max = 2147483647LL;

// A text field stores at most what its setter in the library copies.
#define KAVEX_TEXT(name)                                                                                 \
    ConfigField {                                                                                        \
#name, FieldKind::kText, offsetof(PortConfigRecord, name), sizeof(PortConfigRecord::name), 0, 0, \
            kavex::config::FindTextSetterRule(#name)->copied, true                                       \
    }
#define KAVEX_SIGNED(name, minimum, maximum)                                                         \
    ConfigField {                                                                                    \
#name, FieldKind::kSigned, offsetof(PortConfigRecord, name), sizeof(PortConfigRecord::name), \
            minimum, maximum, 0, true                                                                \
    }
#define KAVEX_UNSIGNED(name, minimum, maximum, settable)                                               \
    ConfigField {                                                                                      \
#name, FieldKind::kUnsigned, offsetof(PortConfigRecord, name), sizeof(PortConfigRecord::name), \
            minimum, maximum, 0, settable                                                              \
    }

const std::uint8_t* Bytes(const PortConfigRecord& record) {
    return reinterpret_cast<const std::uint8_t*>(&record);
}
std::uint8_t* Bytes(PortConfigRecord& record) { return reinterpret_cast<std::uint8_t*>(&record); }

// The field's little-endian integer, sign-extended for signed fields.
long long ReadNumber(const PortConfigRecord& record, const ConfigField& field) {
    unsigned long long value = 0;
    for (std::size_t k = 0; k < field.size; ++k) {
        value |= static_cast<unsigned long long>(Bytes(record)[field.offset + k]) << (8 * k);
    }
    if (field.kind == FieldKind::kSigned && field.size < 8 && (value >> (8 * field.size - 1)) != 0) {
        return static_cast<long long>(value) - (1LL << (8 * field.size));
    }
    return static_cast<long long>(value);
}

void WriteNumber(PortConfigRecord& record, const ConfigField& field, long long number) {
    const auto value = static_cast<unsigned long long>(number);
    for (std::size_t k = 0; k < field.size; ++k) {
        Bytes(record)[field.offset + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
}

std::string RawText(const PortConfigRecord& record, const ConfigField& field) {
    const char* start = reinterpret_cast<const char*>(Bytes(record) + field.offset);
    std::size_t length = 0;
    while (length < field.size && start[length] != '\0') ++length;
    return std::string(start, length);
}

bool ParseNumber(const std::string& text, long long minimum, long long maximum, long long* number,
                 std::string* error) {
    if (text.empty()) {
        *error = "a number is needed";
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || text.find_first_of(" \t+") != std::string::npos) {
        *error = "'" + text + "' is not a whole number";
        return false;
    }
    if (parsed < minimum || parsed > maximum) {
        *error =
            text + " is out of range (" + std::to_string(minimum) + " .. " + std::to_string(maximum) + ")";
        return false;
    }
    *number = parsed;
    return true;
}

}  // namespace

const std::vector<ConfigField>& ConfigFields() {
    static const std::vector<ConfigField> fields = {
        KAVEX_TEXT(Text0),
        KAVEX_TEXT(Text16),
        KAVEX_TEXT(Text52),
        KAVEX_SIGNED(Number88, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number92, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number96, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number100, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number104, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number108, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number112, kInt32Min, kInt32Max),
        KAVEX_UNSIGNED(PrimaryPort, 1, 255, true),
        KAVEX_SIGNED(Number117, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number121, kInt32Min, kInt32Max),
        KAVEX_TEXT(Text125),
        KAVEX_TEXT(Text156),
        KAVEX_UNSIGNED(Byte187, 1, 20, true),
        KAVEX_TEXT(Text188),
        KAVEX_TEXT(Text288),
        KAVEX_SIGNED(Number308, kInt32Min, kInt32Max),
        KAVEX_SIGNED(Number312, kInt32Min, kInt32Max),
        ConfigField{"FurtherPorts", FieldKind::kPorts, offsetof(PortConfigRecord, FurtherPorts), 4, 0, 255, 0,
                    true},
        KAVEX_SIGNED(Number320, kInt32Min, kInt32Max),
        KAVEX_SIGNED(DailyCount, kInt32Min, kInt32Max),
        KAVEX_UNSIGNED(DailyCountDay, 0, 4294967295LL, true),
        KAVEX_SIGNED(Short332, -32768, 32767),
        KAVEX_UNSIGNED(Checksum, 0, 4294967295LL, false),
    };
    return fields;
}

#undef KAVEX_TEXT
#undef KAVEX_SIGNED
#undef KAVEX_UNSIGNED

const ConfigField* FindConfigField(const std::string& name) {
    for (const ConfigField& field : ConfigFields()) {
        if (name == field.name) return &field;
    }
    return nullptr;
}

std::string FieldText(const PortConfigRecord& record, const ConfigField& field) {
    switch (field.kind) {
        case FieldKind::kText: return GbkToUtf8(RawText(record, field));
        case FieldKind::kPorts: {
            std::string text;
            for (std::size_t k = 0; k < 4; ++k) {
                if (k > 0) text += ' ';
                text += std::to_string(record.FurtherPorts[k]);
            }
            return text;
        }
        default: return std::to_string(ReadNumber(record, field));
    }
}

std::string FieldJson(const PortConfigRecord& record, const ConfigField& field) {
    switch (field.kind) {
        case FieldKind::kText: return JsonString(FieldText(record, field));
        case FieldKind::kPorts: {
            std::string json = "[";
            for (std::size_t k = 0; k < 4; ++k) {
                if (k > 0) json += ", ";
                json += std::to_string(record.FurtherPorts[k]);
            }
            return json + "]";
        }
        default: return FieldText(record, field);
    }
}

bool SetField(PortConfigRecord& record, const ConfigField& field, const std::string& value,
              std::string* error) {
    if (!field.settable) {
        *error = std::string(field.name) + " cannot be set: it is computed when the file is saved";
        return false;
    }
    if (field.kind == FieldKind::kText) {
        std::string gbk;
        if (!Utf8ToGbk(value, &gbk)) {
            *error = "the text cannot be written in GBK";
            return false;
        }
        if (gbk.find('\0') != std::string::npos || gbk.size() > field.maxText) {
            *error = "the text is " + std::to_string(gbk.size()) + " bytes in GBK; " + field.name +
                     " holds at most " + std::to_string(field.maxText);
            return false;
        }
        // Exactly as the field's setter in the library stores it.
        kavex::config::StoreTextField(record, *kavex::config::FindTextSetterRule(field.name), gbk.c_str());
        return true;
    }
    if (field.kind == FieldKind::kPorts) {
        long long ports[4];
        std::size_t count = 0;
        std::size_t begin = 0;
        while (true) {
            const std::size_t comma = value.find(',', begin);
            const std::string part =
                value.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
            if (count == 4) {
                *error = "FurtherPorts takes exactly four port numbers, e.g. FurtherPorts=2,0,0,0";
                return false;
            }
            if (!ParseNumber(part, 0, 255, &ports[count], error)) {
                *error = "FurtherPorts: " + *error;
                return false;
            }
            ++count;
            if (comma == std::string::npos) break;
            begin = comma + 1;
        }
        if (count != 4) {
            *error = "FurtherPorts takes exactly four port numbers, e.g. FurtherPorts=2,0,0,0";
            return false;
        }
        for (std::size_t k = 0; k < 4; ++k) record.FurtherPorts[k] = static_cast<std::uint8_t>(ports[k]);
        return true;
    }
    long long number = 0;
    if (!ParseNumber(value, field.minimum, field.maximum, &number, error)) {
        *error = std::string(field.name) + ": " + *error;
        return false;
    }
    WriteNumber(record, field, number);
    return true;
}

}  // namespace kavexctl
