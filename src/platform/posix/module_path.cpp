#include "platform/posix/module_path.h"

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/posix/errors.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

namespace {

std::mutex& OverrideMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& OverridePath() {
    static std::string path;
    return path;
}

std::string ExecutablePath() {
    {
        std::lock_guard<std::mutex> lock(OverrideMutex());
        if (!OverridePath().empty()) return OverridePath();
    }
    // Read once, as Windows keeps the path the program was started from: a
    // host polling the readers asks for it on every call.
    static const std::string executable = [] {
        std::string path(4096, '\0');
        const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return std::string();
        path.resize(static_cast<std::size_t>(length));
        return path;
    }();
    return executable;
}

}  // namespace

void OverrideModuleFileName(const char* path) {
    std::lock_guard<std::mutex> lock(OverrideMutex());
    OverridePath() = path != nullptr ? path : "";
}

}  // namespace kavex::posix

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::string path = kavex::posix::ExecutablePath();
    if (path.empty()) {
        lpFilename[0] = '\0';
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    // As on Windows: a path that does not fit is cut to nSize - 1
    // characters and terminated, the result is nSize and the last error
    // ERROR_INSUFFICIENT_BUFFER.
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}
