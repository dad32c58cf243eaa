// Translation between a Win32 DCB and termios: the line settings a tty
// carries (speed, character size, parity, stop bits, XON/XOFF and RTS/CTS).
#pragma once

#include <termios.h>

#include "platform/posix/win32_comm.h"

namespace kavex::posix {

// A DCB as a freshly opened Windows port reports it, with the line settings
// read from the device.
DCB DcbFromTermios(const termios& settings);

// True when two settings would set the tty alike (every field tcsetattr
// applies; padding and unused bytes aside).
bool SameTermios(const termios& a, const termios& b);

// Checks a DCB as the Windows serial driver does; sets the last error and
// returns FALSE for one it would refuse.
BOOL ValidateDcb(const DCB& dcb);

// Writes the line settings of a valid DCB into `settings`, keeping raw mode.
// False for a baud rate that termios cannot express.
bool ApplyDcbToTermios(const DCB& dcb, termios* settings);

}  // namespace kavex::posix
