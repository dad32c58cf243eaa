// Regular files opened through CreateFileA.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/handles.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

// An open regular file: the descriptor and the access the handle was
// granted (a handle without GENERIC_WRITE cannot write, set the length or
// flush, as on Windows).
class DiskFile final : public KernelObject {
public:
    DiskFile(int fd, DWORD access);
    ~DiskFile() override;
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    BOOL Read(void* buffer, DWORD count, DWORD* transferred) override;
    BOOL Write(const void* buffer, DWORD count, DWORD* transferred) override;
    BOOL Flush() override;

    // SetFilePointer: INVALID_SET_FILE_POINTER with the last error set on
    // failure (and NO_ERROR on success, since that value is also a position).
    DWORD SetPointer(LONG distanceLow, PLONG distanceHigh, DWORD moveMethod);
    BOOL SetEnd();
    DWORD Size(LPDWORD sizeHigh);
    BOOL Information(BY_HANDLE_FILE_INFORMATION* information) const;
    DWORD FinalPath(LPSTR path, DWORD capacity) const;

private:
    const int fd_;
    const DWORD access_;
};

// Opens or creates a regular file with Win32 access, share-mode and
// creation rules. Null with the last error set when that fails.
std::shared_ptr<KernelObject> OpenDiskFile(const char* path, DWORD access, DWORD shareMode,
                                           DWORD creationDisposition, DWORD flagsAndAttributes);

// True when the mode has no write permission bit: this layer's read-only
// attribute.
bool IsReadOnlyMode(unsigned mode);

}  // namespace kavex::posix
