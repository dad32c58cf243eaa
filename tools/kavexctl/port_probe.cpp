#include "kavexctl/port_probe.h"

#include <cerrno>
#include <cstring>

#include "platform/win32.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace kavexctl {

std::string ComDevice(int portNumber) {
    const std::string name = "COM" + std::to_string(portNumber);
    char target[4096] = {};
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) return {};
    return target;
}

#ifdef _WIN32

PortProbe ProbePort(int portNumber) {
    PortProbe probe;
    probe.device = "\\\\.\\COM" + std::to_string(portNumber);
    HANDLE handle = CreateFileA(probe.device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        probe.state = PortState::kOk;
        return probe;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        probe.state = PortState::kBusy;
    } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        probe.state = PortState::kMissing;
    } else {
        probe.detail = "error " + std::to_string(error);
    }
    return probe;
}

#else

PortProbe ProbeDevice(const std::string& path) {
    PortProbe probe;
    probe.device = path;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            probe.state = PortState::kMissing;
        } else if (error == EACCES || error == EPERM) {
            probe.state = PortState::kNoPermission;
        } else if (error == EIO || error == ENXIO || error == ENODEV) {
            probe.state = PortState::kNoHardware;
        } else if (error == EBUSY) {
            probe.state = PortState::kBusy;
        } else {
            probe.detail = std::strerror(error);
        }
        return probe;
    }
    termios settings{};
    if (!isatty(fd) || tcgetattr(fd, &settings) != 0) {
        probe.state = errno == EIO ? PortState::kNoHardware : PortState::kNotSerial;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        probe.state = PortState::kBusy;
    } else {
        probe.state = PortState::kOk;
    }
    close(fd);
    return probe;
}

std::string SystemPrefix() {
    char prefix[4096] = {};
    const UINT length = GetWindowsDirectoryA(prefix, sizeof prefix);
    return length > 0 && length < sizeof prefix ? prefix : "";
}

PortProbe ProbePort(int portNumber) {
    const std::string path = ComDevice(portNumber);
    PortProbe probe = ProbeDevice(path);
    struct stat info {};
    probe.mapped = lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    if (probe.mapped) {
        char target[4096];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length > 0) probe.device = std::string(target, static_cast<size_t>(length));
    }
    return probe;
}

#endif

std::string Describe(const PortProbe& probe) {
    switch (probe.state) {
        case PortState::kOk: return "ok";
        case PortState::kBusy: return "busy: another program has it open";
#ifdef _WIN32
        case PortState::kNoPermission: return "no permission";
#else
        case PortState::kNoPermission:
            return "no permission: add the user to the dialout group (sudo usermod -aG dialout $USER, then "
                   "log in again)";
#endif
        case PortState::kMissing: return "no such device";
        case PortState::kNoHardware: return "no hardware behind it";
        case PortState::kNotSerial: return "not a serial device";
        case PortState::kError: break;
    }
    return "cannot open: " + probe.detail;
}

}  // namespace kavexctl
