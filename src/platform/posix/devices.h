// Where the Windows device names COMn live on this system.
//
// COMn is $KAVEX_PREFIX/dosdevices/comn (a link to a tty) when that link
// exists, else /dev/ttyS(n-1). KAVEX_PREFIX defaults to /etc/kavex.
#pragma once

#include <sys/stat.h>

#include <string>

namespace kavex::posix {

// The port number of "COMn" or "\\.\COMn" (case-insensitive letters,
// n from 1 to 255 in decimal), or 0 when the name names no COM port.
int ComPortNumberFromName(const char* name);

// True for names in the Win32 device namespace ("\\.\..."), which never
// refer to regular files.
bool IsDeviceNamespace(const char* name);

// The directory that stands for the system-wide Windows settings.
std::string KavexPrefix();

// The device path behind COMn.
std::string ComDevicePath(int portNumber);

// open(2) and stat(2) of the device behind COMn, each in one system call
// when the link exists: the link is tried first, and only when it is not
// there (looked up then) is /dev/ttyS(n-1) tried. A link that leads nowhere
// fails as its target does. As open(2) and stat(2): -1 with errno.
int OpenComDevice(int portNumber, int flags);
int StatComDevice(int portNumber, struct stat* info);

}  // namespace kavex::posix
