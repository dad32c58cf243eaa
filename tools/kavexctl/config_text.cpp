#include "kavexctl/config_text.h"

#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace kavexctl {

namespace {

std::string HexEscape(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

#ifdef _WIN32
constexpr UINT kGbkCodePage = 936;

// Converts between code pages through UTF-16; false on any invalid sequence.
bool Convert(UINT from, UINT to, const std::string& input, std::string* output) {
    output->clear();
    if (input.empty()) return true;
    const int wide = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data(),
                                         static_cast<int>(input.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> utf16(static_cast<std::size_t>(wide));
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
#else
// Converts with iconv; false on any sequence the target cannot hold.
bool Convert(const char* from, const char* to, const std::string& input, std::string* output) {
    output->clear();
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = input;
    std::vector<char> out(input.size() * 4 + 16);
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char* outPointer = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    output->assign(out.data(), out.size() - outLeft);
    return true;
}
#endif

bool GbkCharToUtf8(const std::string& gbk, std::string* utf8) {
#ifdef _WIN32
    return Convert(kGbkCodePage, CP_UTF8, gbk, utf8);
#else
    return Convert("GBK", "UTF-8", gbk, utf8);
#endif
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
#ifdef _WIN32
    return Convert(CP_UTF8, kGbkCodePage, utf8, gbk);
#else
    return Convert("UTF-8", "GBK", utf8, gbk);
#endif
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
