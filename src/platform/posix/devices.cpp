#include "platform/posix/devices.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/win32_file.h"

namespace kavex::posix {

namespace {
constexpr const char kDevicePrefix[] = "\\\\.\\";  // \\.\ ...
}

bool IsDeviceNamespace(const char* name) {
    return name != nullptr && std::strncmp(name, kDevicePrefix, 4) == 0;
}

int ComPortNumberFromName(const char* name) {
    if (name == nullptr) return 0;
    if (IsDeviceNamespace(name)) name += 4;
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return 0;
    }
    const char* digits = name + 3;
    if (*digits == '0' || !std::isdigit(static_cast<unsigned char>(*digits))) return 0;
    int number = 0;
    for (; *digits != '\0'; ++digits) {
        if (!std::isdigit(static_cast<unsigned char>(*digits))) return 0;
        number = number * 10 + (*digits - '0');
        if (number > 255) return 0;
    }
    return number;
}

std::string KavexPrefix() {
    const char* prefix = std::getenv("KAVEX_PREFIX");
    if (prefix == nullptr || *prefix == '\0') return "/etc/kavex";
    return prefix;
}

namespace {

std::string ComLinkPath(int portNumber) {
    return KavexPrefix() + "/dosdevices/com" + std::to_string(portNumber);
}

std::string SystemComPath(int portNumber) { return "/dev/ttyS" + std::to_string(portNumber - 1); }

bool LinkExists(const std::string& link) {
    struct stat info {};
    return lstat(link.c_str(), &info) == 0;
}

// Runs `call` on the link, and on the system's device when there is no link.
template <class Call>
int OnComDevice(int portNumber, Call call) {
    const std::string link = ComLinkPath(portNumber);
    const int result = call(link.c_str());
    if (result >= 0) return result;
    const int error = errno;
    if (LinkExists(link)) {
        errno = error;
        return result;
    }
    return call(SystemComPath(portNumber).c_str());
}

}  // namespace

std::string ComDevicePath(int portNumber) {
    std::string link = ComLinkPath(portNumber);
    return LinkExists(link) ? link : SystemComPath(portNumber);
}

int OpenComDevice(int portNumber, int flags) {
    return OnComDevice(portNumber, [flags](const char* path) { return open(path, flags); });
}

int StatComDevice(int portNumber, struct stat* info) {
    return OnComDevice(portNumber, [info](const char* path) { return stat(path, info); });
}

}  // namespace kavex::posix

// The Win32 view of the device map.

DWORD QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
    // Only single names: the list of every name (lpDeviceName null) is not
    // kept by this layer.
    const int port = kavex::posix::ComPortNumberFromName(lpDeviceName);
    if (port == 0 || kavex::posix::IsDeviceNamespace(lpDeviceName)) {
        SetLastError(lpDeviceName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND);
        return 0;
    }
    // One string and the empty string that ends the list.
    const std::string target = kavex::posix::ComDevicePath(port);
    if (lpTargetPath == nullptr || target.size() + 2 > ucchMax) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpTargetPath, target.c_str(), target.size() + 1);
    lpTargetPath[target.size() + 1] = '\0';
    return static_cast<DWORD>(target.size() + 2);
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const std::string prefix = kavex::posix::KavexPrefix();
    if (lpBuffer == nullptr || prefix.size() + 1 > uSize) return static_cast<UINT>(prefix.size() + 1);
    std::memcpy(lpBuffer, prefix.c_str(), prefix.size() + 1);
    return static_cast<UINT>(prefix.size());
}
