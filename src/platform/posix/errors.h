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

// The Win32 code for a failed operation on `path` (a native path): as
// Win32ErrorFromErrno, except that ENOENT becomes ERROR_PATH_NOT_FOUND when
// the directory itself is missing.
DWORD PathError(const char* path, int error);

// Sets the last error to PathError(path, errno) and returns FALSE.
BOOL FailWithPathError(const char* path);

// True for the errno of a modem-line or break request on a device that has
// no such line (a pseudo-terminal).
inline bool IsNoSuchLine(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace kavex::posix
