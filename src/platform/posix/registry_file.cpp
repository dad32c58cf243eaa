#include "platform/posix/registry_file.h"

#include <cctype>
#include <cstdlib>

namespace kavex::posix {

namespace {

constexpr std::uint32_t kString = 1;  // REG_SZ
constexpr std::uint32_t kBinary = 3;  // REG_BINARY
constexpr std::uint32_t kDword = 4;   // REG_DWORD

// The text's logical lines: CR LF or LF ends, a trailing backslash joins
// the next line (whose leading blanks go).
std::vector<std::string> LogicalLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    bool continued = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (continued) {
            std::size_t blank = 0;
            while (blank < line.size() && (line[blank] == ' ' || line[blank] == '\t')) ++blank;
            line.erase(0, blank);
        }
        current += line;
        continued = !current.empty() && current.back() == '\\' && current.find('=') != std::string::npos &&
                    current.find("=\"") == std::string::npos;
        if (continued) {
            current.pop_back();
        } else {
            lines.push_back(current);
            current.clear();
        }
        start = end + 1;
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

// Reads a quoted string at text[*at] == '"'; *at ends after the closing quote.
bool ReadQuoted(const std::string& text, std::size_t* at, std::string* value) {
    if (*at >= text.size() || text[*at] != '"') return false;
    value->clear();
    for (std::size_t k = *at + 1; k < text.size(); ++k) {
        if (text[k] == '\\' && k + 1 < text.size()) {
            *value += text[++k];
        } else if (text[k] == '"') {
            *at = k + 1;
            return true;
        } else {
            *value += text[k];
        }
    }
    return false;
}

bool ReadHexBytes(const std::string& text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    std::size_t k = 0;
    while (k < text.size()) {
        while (k < text.size() && (text[k] == ' ' || text[k] == '\t' || text[k] == ',')) ++k;
        if (k >= text.size()) break;
        std::size_t end = k;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
        if (end == k || end - k > 2) return false;
        bytes->push_back(
            static_cast<std::uint8_t>(std::strtoul(text.substr(k, end - k).c_str(), nullptr, 16)));
        k = end;
    }
    return true;
}

// Parses the data after "=". False for a malformed value; *remove for "-".
bool ReadData(const std::string& text, RegistryValue* value, bool* remove) {
    *remove = false;
    if (text == "-") {
        *remove = true;
        return true;
    }
    if (!text.empty() && text[0] == '"') {
        std::size_t at = 0;
        std::string string;
        if (!ReadQuoted(text, &at, &string)) return false;
        value->type = kString;
        value->data.assign(string.begin(), string.end());
        value->data.push_back(0);
        return true;
    }
    const std::string lower = RegistryName(text);
    if (lower.rfind("DWORD:", 0) == 0) {
        const std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        for (const char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        }
        const auto number = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
        value->type = kDword;
        value->data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                       static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
        return true;
    }
    if (lower.rfind("HEX:", 0) == 0) {
        value->type = kBinary;
        return ReadHexBytes(text.substr(4), &value->data);
    }
    if (lower.rfind("HEX(", 0) == 0) {
        const std::size_t close = text.find("):");
        if (close == std::string::npos || close == 4) return false;
        const std::string type = text.substr(4, close - 4);
        for (const char c : type) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        }
        value->type = static_cast<std::uint32_t>(std::strtoul(type.c_str(), nullptr, 16));
        return ReadHexBytes(text.substr(close + 2), &value->data);
    }
    return false;
}

void RemoveKeyAndSubkeys(RegistryKeys* keys, const std::string& path) {
    keys->erase(path);
    const std::string below = path + "\\";
    for (auto it = keys->lower_bound(below); it != keys->end() && it->first.rfind(below, 0) == 0;) {
        it = keys->erase(it);
    }
}

}  // namespace

std::string RegistryName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool ParseRegistryText(const std::string& text, RegistryKeys* keys) {
    keys->clear();
    std::vector<std::string> lines = LogicalLines(text);
    std::size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;
    if (first == lines.size()) return false;
    std::string header = lines[first];
    if (header.rfind("\xEF\xBB\xBF", 0) == 0) header.erase(0, 3);  // a UTF-8 byte order mark
    if (header != "REGEDIT4" && header != "Windows Registry Editor Version 5.00") return false;

    RegistryKey* current = nullptr;
    for (std::size_t k = first + 1; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const std::size_t close = line.rfind(']');
            current = nullptr;
            if (close == std::string::npos || close < 2) continue;
            if (line[1] == '-') {
                RemoveKeyAndSubkeys(keys, RegistryName(line.substr(2, close - 2)));
                continue;
            }
            current = &(*keys)[RegistryName(line.substr(1, close - 1))];
            continue;
        }
        if (current == nullptr) continue;
        std::string name;
        std::size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (!ReadQuoted(line, &at, &name)) {
            continue;
        }
        if (at >= line.size() || line[at] != '=') continue;
        RegistryValue value;
        bool remove = false;
        if (!ReadData(line.substr(at + 1), &value, &remove)) continue;
        if (remove) {
            current->values.erase(RegistryName(name));
        } else {
            current->values[RegistryName(name)] = std::move(value);
        }
    }
    return true;
}

}  // namespace kavex::posix
