#include "kavexctl/port_names.h"

#include <cctype>
#include <cstdio>

namespace kavexctl {

namespace {

// n of "COMn" (1 to 255, letters in any case), else 0.
int ComNumber(const char* name) {
    if (name == nullptr) return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    }
    const char* digits = name + 3;
    if (*digits < '1' || *digits > '9') return 0;
    int number = 0;
    for (; *digits != '\0'; ++digits) {
        if (!std::isdigit(static_cast<unsigned char>(*digits))) return 0;
        number = number * 10 + (*digits - '0');
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
