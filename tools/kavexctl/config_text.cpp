#include "kavexctl/config_text.h"

#include <cstdio>
#include <vector>

#include "platform/win32.h"

namespace kavexctl {

namespace {

std::string HexEscape(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

constexpr UINT kGbkCodePage = 936;

// Converts between code pages through UTF-16 with the system's conversions;
// false on any sequence the source cannot decode or the target cannot hold.
bool Convert(UINT from, UINT to, const std::string& input, std::string* output) {
    output->clear();
    if (input.empty()) return true;
    const int wide = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data(),
                                         static_cast<int>(input.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::vector<WCHAR> utf16(static_cast<std::size_t>(wide));
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data(), static_cast<int>(input.size()),
                        utf16.data(), wide);
    BOOL lossy = FALSE;
    BOOL* lossyFlag = to == CP_UTF8 ? nullptr : &lossy;
    const int bytes = WideCharToMultiByte(to, 0, utf16.data(), wide, nullptr, 0, nullptr, lossyFlag);
    if (bytes <= 0) return false;
    output->resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(to, 0, utf16.data(), wide, output->data(), bytes, nullptr, lossyFlag);
    return !lossy;
}

bool GbkCharToUtf8(const std::string& gbk, std::string* utf8) {
    return Convert(kGbkCodePage, CP_UTF8, gbk, utf8);
}

}  // namespace

std::string GbkToUtf8(const std::string& gbk) {
    std::string whole;
    if (GbkCharToUtf8(gbk, &whole)) return whole;
    // Convert what is valid and escape the rest, one character at a time.
    std::string result;
    for (std::size_t k = 0; k < gbk.size();) {
        const auto lead = static_cast<unsigned char>(gbk[k]);
        std::string piece;
        if (lead < 0x80) {
            result += gbk[k++];
            continue;
        }
        if (k + 1 < gbk.size() && GbkCharToUtf8(gbk.substr(k, 2), &piece)) {
            result += piece;
            k += 2;
            continue;
        }
        result += HexEscape(lead);
        ++k;
    }
    return result;
}

bool Utf8ToGbk(const std::string& utf8, std::string* gbk) {
    return Convert(CP_UTF8, kGbkCodePage, utf8, gbk);
}

std::string JsonString(const std::string& utf8) {
    std::string result = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': result += "\\\""; break;
            case '\\': result += "\\\\"; break;
            case '\n': result += "\\n"; break;
            case '\r': result += "\\r"; break;
            case '\t': result += "\\t"; break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                    result += escaped;
                } else {
                    result += c;
                }
        }
    }
    return result + "\"";
}

}  // namespace kavexctl
