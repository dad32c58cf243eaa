// File attributes, moving, deleting and temporary file names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/posix/disk_file.h"
#include "platform/posix/errors.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_info.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

namespace {

BOOL FailForPath(const char* path) {
    SetLastError(PathError(path, errno));
    return FALSE;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

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
    struct stat status {};
    if (stat(lpFileName, &status) != 0) {
        kavex::posix::FailForPath(lpFileName);
        return INVALID_FILE_ATTRIBUTES;
    }
    return kavex::posix::AttributesFromStatus(status, kavex::posix::BaseName(lpFileName));
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    struct stat status {};
    if (stat(lpFileName, &status) != 0) return kavex::posix::FailForPath(lpFileName);
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
    struct stat source {};
    if (lstat(lpExistingFileName, &source) != 0) return kavex::posix::FailForPath(lpExistingFileName);
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
        return kavex::posix::FailForPath(lpNewFileName);
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

BOOL DeleteFileA(LPCSTR lpFileName) {
    if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    struct stat status {};
    if (lstat(lpFileName, &status) != 0) return kavex::posix::FailForPath(lpFileName);
    // Windows deletes neither directories nor read-only files.
    if (S_ISDIR(status.st_mode) ||
        (S_ISREG(status.st_mode) && kavex::posix::IsReadOnlyMode(status.st_mode))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (FailsByInjection(FileOperation::kDelete)) return FALSE;
    return unlink(lpFileName) == 0 ? TRUE : kavex::posix::FailForPath(lpFileName);
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
        kavex::posix::UniqueFd fd(open(lpTempFileName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.Valid()) {
            SetLastError(ERROR_SUCCESS);
            return number;
        }
        if (errno != EEXIST) {
            kavex::posix::FailForPath(lpTempFileName);
            return 0;
        }
    }
    Fail(ERROR_FILE_EXISTS);
    return 0;
}
