// Whether a serial device can be opened now, and why not, in words that say
// what to do.
#pragma once

#include <string>

namespace kavexctl {

enum class PortState { kOk, kBusy, kNoPermission, kMissing, kNoHardware, kNotSerial, kError };

struct PortProbe {
    std::string device;   // the device path (Linux) or name (Windows)
    bool mapped = false;  // reached through a dosdevices link
    PortState state = PortState::kError;
    std::string detail;  // the system's text, for kError
};

// COM<portNumber> as the library finds it: the system's device for COMn
// (QueryDosDeviceA; on Linux $KAVEX_PREFIX/dosdevices/comN when that link
// exists, else /dev/ttyS(N-1)), opened as the library opens it.
PortProbe ProbePort(int portNumber);

// The system's device for COM<portNumber>, or "" when it has none.
std::string ComDevice(int portNumber);

#ifndef _WIN32
// The directory that stands for the Windows system on Linux ($KAVEX_PREFIX).
std::string SystemPrefix();
#endif

#ifndef _WIN32
// A device path: opened (non-blocking, no controlling tty) and locked the
// way the library locks it, then released at once.
PortProbe ProbeDevice(const std::string& path);
#endif

// A short status, e.g. "ok", "busy: another program has it open".
std::string Describe(const PortProbe& probe);

}  // namespace kavexctl
