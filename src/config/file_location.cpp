#include "config/file_location.h"

#include <vector>

#include "platform/win32.h"

namespace kavex::config {

bool DirectoryOfPath(const char* path, std::string* directory) {
    if (path == nullptr || directory == nullptr) return false;
    const char* last = nullptr;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') last = p;
    }
    if (last == nullptr) return false;
    // A path whose only separator is its first character lies in the root.
    const std::size_t length = last == path ? 1 : static_cast<std::size_t>(last - path);
    directory->assign(path, length);
    return true;
}

bool ComposePath(const std::string& directory, const char* name, std::size_t limit, std::string* path) {
    if (name == nullptr || path == nullptr) return false;
    // A directory written with one kind of separator keeps it ("C:\Qel"
    // from the registry stays a Windows path on every system).
    char separator = kPathSeparator;
    const bool backslashes = directory.find('\\') != std::string::npos;
    const bool slashes = directory.find('/') != std::string::npos;
    if (backslashes != slashes) separator = backslashes ? '\\' : '/';
    std::string composed = directory;
    if (composed.empty() || (composed.back() != '\\' && composed.back() != '/')) composed += separator;
    composed += name;
    if (composed.size() + 1 > limit) return false;
    *path = std::move(composed);
    return true;
}

bool HostExecutableDirectory(std::size_t limit, std::string* directory) {
    if (limit < 2 || limit > 0xFFFF) return false;
    std::vector<char> module(limit, '\0');
    const DWORD length = GetModuleFileNameA(nullptr, module.data(), static_cast<DWORD>(limit));
    if (length == 0 || length >= limit) return false;  // unknown, or cut short
    return DirectoryOfPath(module.data(), directory);
}

bool PathExists(const char* path) {
    if (path == nullptr) return false;
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(path, &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

}  // namespace kavex::config
