#include "platform/posix/devices.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

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

std::string ComDevicePath(int portNumber) {
    const std::string link = KavexPrefix() + "/dosdevices/com" + std::to_string(portNumber);
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) return link;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace kavex::posix
