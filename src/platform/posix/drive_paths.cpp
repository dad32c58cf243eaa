#include "platform/posix/drive_paths.h"

#include <cctype>
#include <cstring>

#include "platform/posix/devices.h"

namespace kavex::posix {

std::string NativePath(const char* path) {
    if (path == nullptr) return std::string();
    const auto letter = static_cast<unsigned char>(path[0]);
    if (!std::isalpha(letter) || path[1] != ':') return path;
    const char drive = static_cast<char>(std::tolower(letter));
    std::string native = KavexPrefix();
    native += drive == 'c' ? "/drive_c" : std::string("/dosdevices/") + drive + ':';
    // "C:file" is relative to the drive's current directory, its root here.
    const char* rest = path + 2;
    if (*rest != '\0' && *rest != '\\' && *rest != '/') native += '/';
    for (; *rest != '\0'; ++rest) native += *rest == '\\' ? '/' : *rest;
    return native;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

const char* FileNameOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace kavex::posix
