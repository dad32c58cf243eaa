// Win32 share modes for regular files, honoured between processes and
// between opens within one process.
//
// Every open that asks for read or write access records what it holds and
// what it denies as open-file-description locks on byte ranges far beyond any
// real data: one range each for "has read access", "has write access",
// "denies read" and "denies write". A new open is refused when its access
// meets another open's denial or its denial meets another open's access, as
// Windows refuses it. An open places its own marks before it looks at the
// others', so of two conflicting opens racing each other at most one goes
// ahead, without a lock around the two steps. Locks of one open file
// description never conflict with each other, so an open only ever sees the
// marks of other opens, and the marks vanish with the descriptor, however
// its process ends.
#pragma once

#include "platform/posix/win32_types.h"

namespace kavex::posix {

// Checks `access` and `shareMode` against every other open of the file
// behind fd and records this open's marks. False with
// ERROR_SHARING_VIOLATION on a conflict (or another error when the marks
// cannot be placed). `readable` tells whether fd was opened for reading.
bool AcquireShareAccess(int fd, bool readable, DWORD access, DWORD shareMode);

}  // namespace kavex::posix
