// Thread-local last-error code and the translation of errno values into the
// Win32 codes a Windows program would see for the same failure.
#pragma once

#include "platform/posix/win32_types.h"

namespace kavex::posix {

DWORD Win32ErrorFromErrno(int error);

// Sets the last error from errno and returns FALSE, for one-line failure paths.
BOOL FailWithErrno();

// Sets the last error to `code` and returns FALSE.
BOOL Fail(DWORD code);

}  // namespace kavex::posix
