// Regular files opened through CreateFileA.
#pragma once

#include <memory>

#include "platform/posix/handles.h"

namespace kavex::posix {

// Opens or creates a regular file with Win32 access, share-mode and
// creation rules. Null with the last error set when that fails.
std::shared_ptr<KernelObject> OpenDiskFile(const char* path, DWORD access, DWORD shareMode,
                                           DWORD creationDisposition, DWORD flagsAndAttributes);

}  // namespace kavex::posix
