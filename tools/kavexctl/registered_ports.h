// The COM ports that Windows has registered: the values of
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, which each serial port
// driver (built-in, USB adapter, virtual pair) writes while its device is
// present: value name the driver's device, data the port's name (COM3).
#pragma once

#ifdef _WIN32

#include <string>
#include <vector>

namespace kavexctl {

struct RegisteredPort {
    std::string device;  // e.g. \Device\Serial0, \Device\VCP0
    std::string name;    // e.g. COM1
    int number = 0;      // n of COMn (1 to 255), 0 when the name is no COM name
};

// The registered ports, by port number (names that are no COM name last).
// False with the system's reason in *error when the key exists but cannot
// be read; a missing key is no error (no port is present).
bool RegisteredComPorts(std::vector<RegisteredPort>* ports, std::string* error);

}  // namespace kavexctl

#endif
