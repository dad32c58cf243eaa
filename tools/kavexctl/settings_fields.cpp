#include "kavexctl/settings_fields.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "kavexctl/config_text.h"
#include "settings/settings_report.h"
#include "settings/version_config.h"

namespace kavexctl {

namespace {

using kavex::settings::FieldType;
using kavex::settings::VersionField;

std::string RawText(const char* bytes, std::size_t width) {
    return std::string(bytes, kavex::settings::TextLength(bytes, width));
}

std::vector<std::string> IdTypeEntries(const VersionConfigRecord& record) {
    std::vector<std::string> entries;
    for (const auto& entry : record.IdTypes) entries.push_back(GbkToUtf8(RawText(entry, sizeof entry)));
    return entries;
}

std::string DottedQuad(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF,
                  (address >> 16) & 0xFF, (address >> 24) & 0xFF);
    return text;
}

std::string Hex(const char* bytes, std::size_t width) {
    std::string text;
    char pair[3];
    for (std::size_t k = 0; k < width; ++k) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[k]));
        text += pair;
    }
    return text;
}

std::string LocalTime(std::uint32_t seconds) {
    std::tm local{};
    if (!kavex::settings::LocalTimeOf(static_cast<std::time_t>(seconds), &local)) return std::string();
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool IsSigned(FieldType type) { return type == FieldType::kInt32; }

// A whole decimal number within [minimum, maximum].
bool ParseInteger(const std::string& text, long long minimum, long long maximum, long long* number) {
    if (text.empty() || text.size() > 12) return false;
    std::size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size()) return false;
    for (std::size_t k = start; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
    }
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < minimum || value > maximum) return false;
    *number = value;
    return true;
}

bool ParseDottedQuad(const std::string& text, std::uint32_t* address) {
    std::uint32_t value = 0;
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos) return false;
        long long number = 0;
        const std::string piece = text.substr(start, end - start);
        if (piece.empty() || piece[0] == '-' || !ParseInteger(piece, 0, 255, &number)) return false;
        value |= static_cast<std::uint32_t>(number) << (8 * part);
        start = end + 1;
    }
    *address = value;
    return true;
}

bool ParseHex(const std::string& text, std::size_t width, std::string* bytes) {
    if (text.size() != width * 2) return false;
    bytes->clear();
    for (std::size_t k = 0; k < text.size(); k += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[k])) ||
            !std::isxdigit(static_cast<unsigned char>(text[k + 1]))) {
            return false;
        }
        *bytes += static_cast<char>(std::strtoul(text.substr(k, 2).c_str(), nullptr, 16));
    }
    return true;
}

// A UTF-8 text as GBK of at most `limit` bytes.
bool GbkText(const std::string& name, const std::string& utf8, std::size_t limit, std::string* gbk,
             std::string* error) {
    if (!Utf8ToGbk(utf8, gbk)) {
        *error = name + ": '" + utf8 + "' has characters that GBK cannot hold";
        return false;
    }
    if (gbk->size() > limit || gbk->find('\0') != std::string::npos) {
        *error = name + ": '" + utf8 + "' is " + std::to_string(gbk->size()) +
                 " bytes in GBK; the field holds at most " + std::to_string(limit);
        return false;
    }
    return true;
}

void StoreText(char* field, std::size_t width, const std::string& gbk) {
    std::memset(field, 0, width);
    std::memcpy(field, gbk.data(), gbk.size());
}

}  // namespace

std::string SettingsFieldText(const VersionConfigRecord& record, const VersionField& field) {
    const char* bytes = kavex::settings::FieldBytes(record, field);
    switch (field.type) {
        case FieldType::kText: return GbkToUtf8(RawText(bytes, field.width));
        case FieldType::kIdTypes: {
            std::vector<std::string> entries = IdTypeEntries(record);
            while (!entries.empty() && entries.back().empty()) entries.pop_back();
            std::string text;
            for (std::size_t k = 0; k < entries.size(); ++k) text += (k ? "," : "") + entries[k];
            return text;
        }
        case FieldType::kIpAddress:
            return DottedQuad(static_cast<std::uint32_t>(kavex::settings::ReadInteger(record, field)));
        case FieldType::kBlock: return Hex(bytes, field.width);
        case FieldType::kTime: {
            const auto seconds = static_cast<std::uint32_t>(kavex::settings::ReadInteger(record, field));
            return std::to_string(seconds) + (seconds != 0 ? "  (" + LocalTime(seconds) + ")" : "");
        }
        default: {
            if (std::strcmp(field.name, "Checksum") == 0) {
                char text[16];
                std::snprintf(text, sizeof text, "0x%08X", record.Checksum);
                return text;
            }
            return std::to_string(kavex::settings::ReadInteger(record, field));
        }
    }
}

std::string SettingsFieldJson(const VersionConfigRecord& record, const VersionField& field) {
    const char* bytes = kavex::settings::FieldBytes(record, field);
    switch (field.type) {
        case FieldType::kText: return JsonString(GbkToUtf8(RawText(bytes, field.width)));
        case FieldType::kIdTypes: {
            std::string json = "[";
            const std::vector<std::string> entries = IdTypeEntries(record);
            for (std::size_t k = 0; k < entries.size(); ++k) json += (k ? ", " : "") + JsonString(entries[k]);
            return json + "]";
        }
        case FieldType::kIpAddress:
            return JsonString(
                DottedQuad(static_cast<std::uint32_t>(kavex::settings::ReadInteger(record, field))));
        case FieldType::kBlock: return JsonString(Hex(bytes, field.width));
        default: return std::to_string(kavex::settings::ReadInteger(record, field));
    }
}

bool SetSettingsField(VersionConfigRecord& record, const std::string& name, const std::string& value,
                      std::string* error) {
    const VersionField* field = kavex::settings::FindVersionField(name.c_str());
    if (field == nullptr) {
        *error = "unknown field '" + name + "' ('kavexctl settings show' lists the fields)";
        return false;
    }
    if (std::strcmp(field->name, "Checksum") == 0) {
        *error = "Checksum is not set: every save computes it";
        return false;
    }
    char* bytes = kavex::settings::FieldBytes(record, *field);
    switch (field->type) {
        case FieldType::kText: {
            std::string gbk;
            if (!GbkText(name, value, field->width - 1, &gbk, error)) return false;
            StoreText(bytes, field->width, gbk);
            return true;
        }
        case FieldType::kIdTypes: {
            std::vector<std::string> entries;
            if (!value.empty()) {
                std::size_t start = 0;
                for (;;) {
                    const std::size_t comma = value.find(',', start);
                    entries.push_back(
                        value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
                    if (comma == std::string::npos) break;
                    start = comma + 1;
                }
            }
            if (entries.size() > static_cast<std::size_t>(kavex::settings::kIdTypeEntries)) {
                *error = name + ": at most 10 entries, " + std::to_string(entries.size()) + " given";
                return false;
            }
            std::vector<std::string> gbk(entries.size());
            for (std::size_t k = 0; k < entries.size(); ++k) {
                if (!GbkText(name, entries[k], kavex::settings::kIdTypeMaxLength, &gbk[k], error))
                    return false;
            }
            std::memset(record.IdTypes, 0, sizeof record.IdTypes);
            for (std::size_t k = 0; k < gbk.size(); ++k)
                StoreText(record.IdTypes[k], sizeof record.IdTypes[k], gbk[k]);
            record.IdTypeCount = static_cast<std::int32_t>(gbk.size());
            return true;
        }
        case FieldType::kIpAddress: {
            std::uint32_t address = 0;
            if (!ParseDottedQuad(value, &address)) {
                *error = name + ": '" + value + "' is not a dotted address such as 192.168.0.250";
                return false;
            }
            kavex::settings::WriteInteger(record, *field, address);
            return true;
        }
        case FieldType::kBlock: {
            std::string block;
            if (!ParseHex(value, field->width, &block)) {
                *error = name + ": give exactly " + std::to_string(field->width * 2) + " hex digits (" +
                         std::to_string(field->width) + " bytes)";
                return false;
            }
            std::memcpy(bytes, block.data(), block.size());
            return true;
        }
        case FieldType::kTime: {
            long long seconds = 0;
            const bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
            if (digits) {
                if (!ParseInteger(value, 0, 4294967295LL, &seconds)) {
                    *error = name + ": " + value + " is out of range (0 .. 4294967295 seconds)";
                    return false;
                }
            } else {
                seconds = ParseDateTime(value.c_str());
                if (seconds == 0) {
                    *error = name + ": '" + value +
                             "' is not a date and time from 1970 to 2098 (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)";
                    return false;
                }
            }
            kavex::settings::WriteInteger(record, *field, static_cast<std::uint32_t>(seconds));
            return true;
        }
        default: {
            long long minimum = 0;
            long long maximum = 0;
            if (IsSigned(field->type)) {
                minimum = -2147483648LL;
                maximum = 2147483647LL;
            } else {
                maximum = field->width == 1 ? 255 : field->width == 2 ? 65535 : 4294967295LL;
            }
            long long number = 0;
            if (!ParseInteger(value, minimum, maximum, &number)) {
                *error = name + ": '" + value + "' is not a whole number from " + std::to_string(minimum) +
                         " to " + std::to_string(maximum);
                return false;
            }
            kavex::settings::WriteInteger(record, *field, static_cast<std::uint32_t>(number));
            return true;
        }
    }
}

}  // namespace kavexctl
