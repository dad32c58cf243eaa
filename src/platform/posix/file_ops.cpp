// File attributes, moving, deleting and temporary file names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "platform/posix/disk_file.h"
#include "platform/posix/drive_paths.h"
#include "platform/posix/errors.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_info.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

namespace {

// Makes a directory's entries durable: after a rename, the new name
// survives a power cut.
bool SyncDirectory(const std::string& directory) {
    UniqueFd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Valid() && fsync(fd.Get()) == 0;
}

}  // namespace

}  // namespace kavex::posix

using kavex::posix::Fail;
using kavex::posix::faults::FailsByInjection;
using kavex::posix::faults::FileOperation;

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::string native = kavex::posix::NativePath(lpFileName);
    lpFileName = native.c_str();
    struct stat status {};
    if (stat(lpFileName, &status) != 0) {
        kavex::posix::FailWithPathError(lpFileName);
        return INVALID_FILE_ATTRIBUTES;
    }
    return kavex::posix::AttributesFromStatus(status, kavex::posix::FileNameOf(lpFileName));
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string native = kavex::posix::NativePath(lpFileName);
    lpFileName = native.c_str();
    struct stat status {};
    if (stat(lpFileName, &status) != 0) return kavex::posix::FailWithPathError(lpFileName);
    // Only the read-only attribute has a counterpart here: taking away every
    // write permission bit sets it, giving the owner write permission clears it.
    mode_t mode = status.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if (kavex::posix::IsReadOnlyMode(status.st_mode)) {
        mode |= S_IWUSR;
    }
    if (mode != (status.st_mode & 07777) && chmod(lpFileName, mode) != 0)
        return kavex::posix::FailWithErrno();
    return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string nativeExisting = kavex::posix::NativePath(lpExistingFileName);
    const std::string nativeNew = kavex::posix::NativePath(lpNewFileName);
    lpExistingFileName = nativeExisting.c_str();
    lpNewFileName = nativeNew.c_str();
    struct stat source {};
    if (lstat(lpExistingFileName, &source) != 0) return kavex::posix::FailWithPathError(lpExistingFileName);
    struct stat target {};
    if (lstat(lpNewFileName, &target) == 0) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        // Windows replaces neither a directory nor a read-only file.
        if (S_ISDIR(target.st_mode) ||
            (S_ISREG(target.st_mode) && kavex::posix::IsReadOnlyMode(target.st_mode))) {
            return Fail(ERROR_ACCESS_DENIED);
        }
    }
    if (FailsByInjection(FileOperation::kMove)) return FALSE;
    const int result =
        (dwFlags & MOVEFILE_REPLACE_EXISTING)
            ? rename(lpExistingFileName, lpNewFileName)
            : renameat2(AT_FDCWD, lpExistingFileName, AT_FDCWD, lpNewFileName, RENAME_NOREPLACE);
    if (result != 0) {
        if (errno == EXDEV) return Fail(ERROR_NOT_SAME_DEVICE);
        if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
        return kavex::posix::FailWithPathError(lpNewFileName);
    }
    if (dwFlags & MOVEFILE_WRITE_THROUGH) {
        if (FailsByInjection(FileOperation::kFlush)) return FALSE;
        const std::string newDirectory = kavex::posix::DirectoryOf(lpNewFileName);
        const std::string oldDirectory = kavex::posix::DirectoryOf(lpExistingFileName);
        if (!kavex::posix::SyncDirectory(newDirectory)) return kavex::posix::FailWithErrno();
        if (oldDirectory != newDirectory && !kavex::posix::SyncDirectory(oldDirectory)) {
            return kavex::posix::FailWithErrno();
        }
    }
    return TRUE;
}

BOOL ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName, LPCSTR lpBackupFileName,
                  DWORD /*dwReplaceFlags*/, LPVOID /*lpExclude*/, LPVOID /*lpReserved*/) {
    if (lpReplacedFileName == nullptr || lpReplacementFileName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpBackupFileName != nullptr) return Fail(ERROR_NOT_SUPPORTED);
    const std::string nativeReplaced = kavex::posix::NativePath(lpReplacedFileName);
    const std::string nativeReplacement = kavex::posix::NativePath(lpReplacementFileName);
    lpReplacedFileName = nativeReplaced.c_str();
    lpReplacementFileName = nativeReplacement.c_str();
    struct stat replaced {};
    if (lstat(lpReplacedFileName, &replaced) != 0) return kavex::posix::FailWithPathError(lpReplacedFileName);
    if (!S_ISREG(replaced.st_mode) || kavex::posix::IsReadOnlyMode(replaced.st_mode)) {
        return Fail(ERROR_UNABLE_TO_REMOVE_REPLACED);
    }
    struct stat replacement {};
    if (lstat(lpReplacementFileName, &replacement) != 0)
        return kavex::posix::FailWithPathError(lpReplacementFileName);
    // The new file takes the old one's owner where this process may give it
    // (the superuser may; others keep their own), then its permissions (a
    // change of owner clears set-id bits).
    if ((replacement.st_uid != replaced.st_uid || replacement.st_gid != replaced.st_gid) &&
        chown(lpReplacementFileName, replaced.st_uid, replaced.st_gid) != 0 &&
        chown(lpReplacementFileName, static_cast<uid_t>(-1), replaced.st_gid) != 0) {
        // Not permitted: the file stays the caller's, as a new file would be.
    }
    if (chmod(lpReplacementFileName, replaced.st_mode & 07777) != 0) return kavex::posix::FailWithErrno();
    if (FailsByInjection(FileOperation::kMove)) return FALSE;
    if (rename(lpReplacementFileName, lpReplacedFileName) != 0) {
        kavex::posix::FailWithErrno();
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
        return FALSE;
    }
    // The new name is made durable as a write-through move makes it.
    if (FailsByInjection(FileOperation::kFlush)) return FALSE;
    if (!kavex::posix::SyncDirectory(kavex::posix::DirectoryOf(lpReplacedFileName))) {
        return kavex::posix::FailWithErrno();
    }
    return TRUE;
}

// Destructors call this one (a temporary file given up), so memory that
// runs out while the name is converted fails the call, as the system does,
// rather than throwing out of a destructor.
BOOL DeleteFileA(LPCSTR lpFileName) {
    if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::string native;
    try {
        native = kavex::posix::NativePath(lpFileName);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    lpFileName = native.c_str();
    struct stat status {};
    if (lstat(lpFileName, &status) != 0) return kavex::posix::FailWithPathError(lpFileName);
    // Windows deletes neither directories nor read-only files.
    if (S_ISDIR(status.st_mode) ||
        (S_ISREG(status.st_mode) && kavex::posix::IsReadOnlyMode(status.st_mode))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (FailsByInjection(FileOperation::kDelete)) return FALSE;
    return unlink(lpFileName) == 0 ? TRUE : kavex::posix::FailWithPathError(lpFileName);
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
    if (lpPathName == nullptr || lpPrefixString == nullptr || lpTempFileName == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The name adds at most a separator, three prefix characters, four
    // digits and ".tmp" to the directory, and must fit in MAX_PATH.
    const std::size_t length = std::strlen(lpPathName);
    if (length > MAX_PATH - 14) {
        Fail(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    const char* separator = (length > 0 && lpPathName[length - 1] == '/') ? "" : "/";
    auto compose = [&](UINT number) {
        std::snprintf(lpTempFileName, MAX_PATH, "%s%s%.3s%X.tmp", lpPathName, separator, lpPrefixString,
                      number & 0xFFFFu);
    };
    if (uUnique != 0) {
        compose(uUnique);
        return uUnique & 0xFFFFu;
    }
    if (FailsByInjection(FileOperation::kOpen)) return 0;
    static std::atomic<unsigned> counter{0};
    const unsigned start = static_cast<unsigned>(getpid()) * 2654435761u +
                           static_cast<unsigned>(time(nullptr)) + counter.fetch_add(1) * 7919u;
    for (unsigned attempt = 0; attempt < 0x10000u; ++attempt) {
        const UINT number = (start + attempt) & 0xFFFFu;
        if (number == 0) continue;
        compose(number);
        const std::string native = kavex::posix::NativePath(lpTempFileName);
        kavex::posix::UniqueFd fd(open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.Valid()) {
            SetLastError(ERROR_SUCCESS);
            return number;
        }
        if (errno != EEXIST) {
            kavex::posix::FailWithPathError(native.c_str());
            return 0;
        }
    }
    Fail(ERROR_FILE_EXISTS);
    return 0;
}
