#include "kavexctl/port_names.h"

#include <cctype>
#include <cstdio>

#include "reader/port_set.h"

namespace kavexctl {

namespace {

// n of "COMn" (n from 1 to 255 in decimal, letters in any case), else 0:
// the names a person may give. A "\\.\COMn" device path is no name for a
// host: the library would read its fourth character.
int ComNumber(const char* name) {
    if (name == nullptr || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '0') {
        return 0;
    }
    int number = 0;
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (!std::isdigit(static_cast<unsigned char>(*digit))) return 0;
        number = number * 10 + (*digit - '0');
        if (number > 255) return 0;
    }
    return number;
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
        const int used = PortNumberFromName(name);  // the library's rule
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
