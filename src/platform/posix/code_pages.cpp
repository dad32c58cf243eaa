// Code page conversions: MultiByteToWideChar and WideCharToMultiByte for the
// two code pages this system uses, the ANSI code page (CP_ACP, which is GBK,
// code page 936, as on a Chinese Windows) and UTF-8. Wide characters are
// UTF-16, as on Windows. The work is done by iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix/errors.h"
#include "platform/posix/win32_system.h"

namespace {

constexpr UINT kGbk = 936;

const char* IconvName(UINT codePage) {
    switch (codePage) {
        case CP_ACP:
        case kGbk: return "GBK";
        case CP_UTF8: return "UTF-8";
        default: return nullptr;
    }
}

// One iconv conversion of a whole input. False with the Win32 code when the
// input holds a sequence that the source cannot decode or the target cannot
// hold.
bool Convert(const char* from, const char* to, const char* input, std::size_t inputSize,
             std::vector<char>* output, DWORD* error) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    std::vector<char> in(input, input + inputSize);
    output->assign(inputSize * 4 + 8, '\0');
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char* outPointer = output->data();
    std::size_t outLeft = output->size();
    const std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) {
        *error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    output->resize(output->size() - outLeft);
    return true;
}

// Copies a converted result of `units` elements into the caller's buffer of
// `capacity` elements, or reports the size needed when capacity is 0.
int Deliver(const void* result, int units, std::size_t unitSize, void* buffer, int capacity) {
    if (capacity == 0) return units;
    if (units > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, result, static_cast<std::size_t>(units) * unitSize);
    return units;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD /*dwFlags*/, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    const char* from = IconvName(CodePage);
    if (from == nullptr || lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the string and its terminator.
    const std::size_t size =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    std::vector<char> utf16;
    DWORD error = 0;
    // Invalid input always fails here, as with MB_ERR_INVALID_CHARS: this
    // system never substitutes characters silently.
    if (!Convert(from, "UTF-16LE", lpMultiByteStr, size, &utf16, &error)) {
        SetLastError(error);
        return 0;
    }
    return Deliver(utf16.data(), static_cast<int>(utf16.size() / 2), sizeof(WCHAR), lpWideCharStr,
                   cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD /*dwFlags*/, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    const char* to = IconvName(CodePage);
    if (to == nullptr || lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
        (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t units = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[units] != 0) ++units;
        ++units;  // the terminator
    } else {
        units = static_cast<std::size_t>(cchWideChar);
    }
    std::vector<char> bytes;
    DWORD error = 0;
    const bool converted = Convert("UTF-16LE", to, reinterpret_cast<const char*>(lpWideCharStr),
                                   units * sizeof(WCHAR), &bytes, &error);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = converted ? FALSE : TRUE;
    if (!converted) {
        // A character the code page cannot hold becomes its default
        // character, '?' unless the caller gives one, as on Windows.
        if (CodePage == CP_UTF8) {
            SetLastError(error);
            return 0;
        }
        bytes.clear();
        const char fallback = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
        for (std::size_t k = 0; k < units; ++k) {
            std::vector<char> one;
            DWORD ignored = 0;
            if (Convert("UTF-16LE", to, reinterpret_cast<const char*>(lpWideCharStr + k), sizeof(WCHAR), &one,
                        &ignored)) {
                bytes.insert(bytes.end(), one.begin(), one.end());
            } else {
                bytes.push_back(fallback);
            }
        }
    }
    return Deliver(bytes.data(), static_cast<int>(bytes.size()), 1, lpMultiByteStr, cbMultiByte);
}
