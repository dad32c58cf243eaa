// Thread-local last-error code and the translation of errno values into the
// Win32 codes a Windows program would see for the same failure.
#pragma once

#include <cerrno>

#include "platform/posix/win32_types.h"

namespace kavex::posix {

DWORD Win32ErrorFromErrno(int error);

// Sets the last error from errno and returns FALSE, for one-line failure paths.
BOOL FailWithErrno();

// Sets the last error to `code` and returns FALSE.
BOOL Fail(DWORD code);

// True for the errno of a modem-line or break request on a device that has
// no such line (a pseudo-terminal).
inline bool IsNoSuchLine(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace kavex::posix
