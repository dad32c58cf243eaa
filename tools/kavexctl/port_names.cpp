#include "kavexctl/port_names.h"

#include <cstdio>

#include "platform/posix/devices.h"

namespace kavexctl {

namespace {

// n of "COMn" (1 to 255, letters in any case), else 0: the rule by which
// the platform layer names the devices. A "\\.\COMn" device path is no
// name for a host: the library would read its fourth character.
int ComNumber(const char* name) {
    if (kavex::posix::IsDeviceNamespace(name)) return 0;
    return kavex::posix::ComPortNumberFromName(name);
}

void UnknownPort(const char* command, const char* name) {
    std::fprintf(stderr,
                 "kavexctl %s: '%s' is not a port name; give one of COM1 to COM9 "
                 "('kavexctl ports' lists this machine's ports)\n",
                 command, name != nullptr ? name : "");
}

}  // namespace

int PortNumberForHost(const char* command, const char* name) {
    const int number = ComNumber(name);
    if (number == 0) {
        UnknownPort(command, name);
        return 0;
    }
    if (number > 9) {
        const int used = name[3] - '0';
        std::fprintf(stderr,
                     "kavexctl %s: warning: the library reads only the fourth character of a port name, "
                     "so %s opens COM%d.\n"
                     "  To use the device of COM%d, map it to one of COM1 to COM9 (on Linux a link "
                     "$KAVEX_PREFIX/dosdevices/comN -> device) or name it in the port configuration file.\n",
                     command, name, used, number);
        return used;
    }
    return number;
}

int PortNumberUpToNine(const char* command, const char* name) {
    const int number = ComNumber(name);
    if (number == 0 || number > 9) {
        UnknownPort(command, name);
        return 0;
    }
    return number;
}

}  // namespace kavexctl
