#include "platform/posix/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/posix/errors.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_info.h"
#include "platform/posix/share_access.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

namespace {

using faults::FailsByInjection;
using faults::FileOperation;

// Opens the file as the creation disposition says. *created tells whether
// this call made it.
UniqueFd OpenWithDisposition(const char* path, int flags, DWORD disposition, mode_t createMode,
                             bool* created) {
    *created = false;
    if (disposition == CREATE_NEW) {
        UniqueFd fd(open(path, flags | O_CREAT | O_EXCL, createMode));
        *created = fd.Valid();
        return fd;
    }
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) return UniqueFd(open(path, flags));
    // OPEN_ALWAYS and CREATE_ALWAYS: open what is there, else create it; a
    // file that appears or vanishes in between sends us round again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        UniqueFd fd(open(path, flags));
        if (fd.Valid() || errno != ENOENT) return fd;
        fd = UniqueFd(open(path, flags | O_CREAT | O_EXCL, createMode));
        if (fd.Valid()) {
            *created = true;
            return fd;
        }
        if (errno != EEXIST) return fd;
    }
    errno = EBUSY;
    return UniqueFd();
}

// Empties an existing file for CREATE_ALWAYS or TRUNCATE_EXISTING.
bool Truncate(const char* path, int fd, bool writable) {
    if (writable) return ftruncate(fd, 0) == 0;
    // CREATE_ALWAYS with read access only still empties the file, through a
    // second open of its path. That open must not block either (the path
    // may name a FIFO by now), and it must find the file that `fd` holds.
    UniqueFd writer(open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!writer.Valid()) return false;
    struct stat held {};
    struct stat reopened {};
    if (fstat(fd, &held) != 0 || fstat(writer.Get(), &reopened) != 0) return false;
    if (held.st_dev != reopened.st_dev || held.st_ino != reopened.st_ino) {
        errno = EBUSY;  // replaced meanwhile: refused as a file in use
        return false;
    }
    return ftruncate(writer.Get(), 0) == 0;
}

}  // namespace

bool IsReadOnlyMode(unsigned mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

std::shared_ptr<KernelObject> OpenDiskFile(const char* path, DWORD access, DWORD shareMode,
                                           DWORD creationDisposition, DWORD flagsAndAttributes) {
    const bool wantsRead = (access & GENERIC_READ) != 0;
    const bool wantsWrite = (access & GENERIC_WRITE) != 0;
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
        (creationDisposition == TRUNCATE_EXISTING && !wantsWrite)) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (FailsByInjection(FileOperation::kOpen)) return nullptr;
    // O_NONBLOCK: a path that is no regular file (a FIFO, a terminal behind a
    // link) must not block the open; it is refused below. It changes nothing
    // for a regular file.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= wantsWrite ? (wantsRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
    const mode_t createMode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

    bool created = false;
    UniqueFd fd = OpenWithDisposition(path, flags, creationDisposition, createMode, &created);
    if (!fd.Valid()) {
        if (errno == EEXIST) {
            Fail(ERROR_FILE_EXISTS);
        } else if (errno == ENXIO) {
            Fail(ERROR_ACCESS_DENIED);  // a socket, or a FIFO that nothing reads
        } else {
            FailWithPathError(path);
        }
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd.Get(), &status) != 0) {
        FailWithErrno();
        return nullptr;
    }
    // Only regular files are files here: a directory, FIFO, device or
    // socket is refused at once, as Windows refuses a directory.
    if (!S_ISREG(status.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // A read-only file can be neither written nor replaced. The permission
    // bits already stop ordinary users; this stops the superuser too, whom
    // the system lets write anything.
    const bool replaces = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
    if (!created && (wantsWrite || replaces) && IsReadOnlyMode(status.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!AcquireShareAccess(fd.Get(), !(flags & O_WRONLY), access, shareMode)) return nullptr;
    if (!created && replaces && !Truncate(path, fd.Get(), wantsWrite)) {
        FailWithErrno();
        return nullptr;
    }
    const bool existed =
        !created && (creationDisposition == OPEN_ALWAYS || creationDisposition == CREATE_ALWAYS);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    // The object takes the descriptor only once it exists: memory running
    // out here closes the descriptor, and with it the share marks.
    std::shared_ptr<DiskFile> file;
    try {
        file = std::make_shared<DiskFile>(fd.Get(), access);
    } catch (const std::bad_alloc&) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    fd.Release();
    return file;
}

DiskFile::DiskFile(int fd, DWORD access) : fd_(fd), access_(access) {}

DiskFile::~DiskFile() { close(fd_); }

BOOL DiskFile::Read(void* buffer, DWORD count, DWORD* transferred) {
    *transferred = 0;
    if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    if (FailsByInjection(FileOperation::kRead)) return FALSE;
    auto* bytes = static_cast<char*>(buffer);
    while (*transferred < count) {
        const ssize_t n = read(fd_, bytes + *transferred, count - *transferred);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWithErrno();
        if (n == 0) break;  // end of file: success with what came
        *transferred += static_cast<DWORD>(n);
        // A regular file gives fewer bytes than asked only at its end.
        if (*transferred < count) break;
    }
    return TRUE;
}

BOOL DiskFile::Write(const void* buffer, DWORD count, DWORD* transferred) {
    *transferred = 0;
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    // A disk that fills up during a write has stored part of the data.
    DWORD error = 0;
    const bool fails = faults::InjectFileFault(FileOperation::kWrite, &error);
    if (fails) count /= 2;
    const auto* bytes = static_cast<const char*>(buffer);
    while (*transferred < count) {
        const ssize_t n = write(fd_, bytes + *transferred, count - *transferred);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWithErrno();
        if (n == 0) return Fail(ERROR_DISK_FULL);
        *transferred += static_cast<DWORD>(n);
    }
    return fails ? Fail(error) : TRUE;
}

BOOL DiskFile::Flush() {
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    if (FailsByInjection(FileOperation::kFlush)) return FALSE;
    return fsync(fd_) == 0 ? TRUE : FailWithErrno();
}

DWORD DiskFile::SetPointer(LONG distanceLow, PLONG distanceHigh, DWORD moveMethod) {
    std::int64_t distance = distanceLow;
    if (distanceHigh != nullptr) {
        distance = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
            static_cast<std::uint32_t>(distanceLow));
    }
    off_t origin = 0;
    if (moveMethod == FILE_CURRENT) {
        origin = lseek(fd_, 0, SEEK_CUR);
    } else if (moveMethod == FILE_END) {
        struct stat status {};
        origin = fstat(fd_, &status) == 0 ? status.st_size : -1;
    } else if (moveMethod != FILE_BEGIN) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (origin < 0) {
        FailWithErrno();
        return INVALID_SET_FILE_POINTER;
    }
    const std::int64_t target = origin + distance;
    if (target < 0) {
        Fail(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh == nullptr && target > 0xFFFFFFFELL) {
        // The position would not fit the 32-bit result.
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(fd_, static_cast<off_t>(target), SEEK_SET) < 0) {
        FailWithErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(static_cast<std::uint64_t>(target) & 0xFFFFFFFFu);
}

BOOL DiskFile::SetEnd() {
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    if (FailsByInjection(FileOperation::kSetLength)) return FALSE;
    const off_t position = lseek(fd_, 0, SEEK_CUR);
    if (position < 0 || ftruncate(fd_, position) != 0) return FailWithErrno();
    return TRUE;
}

DWORD DiskFile::Size(LPDWORD sizeHigh) {
    struct stat status {};
    if (fstat(fd_, &status) != 0) {
        FailWithErrno();
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL DiskFile::Information(BY_HANDLE_FILE_INFORMATION* information) const {
    struct stat status {};
    if (fstat(fd_, &status) != 0) return FailWithErrno();
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes = AttributesFromStatus(status, nullptr);
    information->ftCreationTime = FileTimeFrom(status.st_ctim);
    information->ftLastAccessTime = FileTimeFrom(status.st_atim);
    information->ftLastWriteTime = FileTimeFrom(status.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(status.st_dev);
    information->nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(status.st_size) >> 32);
    information->nFileSizeLow = static_cast<DWORD>(status.st_size & 0xFFFFFFFF);
    information->nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(static_cast<std::uint64_t>(status.st_ino) >> 32);
    information->nFileIndexLow = static_cast<DWORD>(status.st_ino & 0xFFFFFFFF);
    return TRUE;
}

DWORD DiskFile::FinalPath(LPSTR path, DWORD capacity) const {
    // The kernel's name of the open file: every link resolved.
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd_);
    char target[4096];
    const ssize_t length = readlink(link, target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
        FailWithErrno();
        return 0;
    }
    const auto size = static_cast<DWORD>(length);
    if (path == nullptr || size + 1 > capacity) return size + 1;
    std::memcpy(path, target, size);
    path[size] = '\0';
    return size;
}

}  // namespace kavex::posix

using kavex::posix::DiskFile;

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    auto file = kavex::posix::LookupObjectAs<DiskFile>(hFile, ERROR_INVALID_FUNCTION);
    if (!file) return INVALID_SET_FILE_POINTER;
    return file->SetPointer(lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}

BOOL SetEndOfFile(HANDLE hFile) {
    auto file = kavex::posix::LookupObjectAs<DiskFile>(hFile, ERROR_INVALID_FUNCTION);
    return file ? file->SetEnd() : FALSE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = kavex::posix::LookupObjectAs<DiskFile>(hFile, ERROR_INVALID_FUNCTION);
    return file ? file->Size(lpFileSizeHigh) : INVALID_FILE_SIZE;
}

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    if (lpFileInformation == nullptr) return kavex::posix::Fail(ERROR_INVALID_PARAMETER);
    auto file = kavex::posix::LookupObjectAs<DiskFile>(hFile, ERROR_INVALID_FUNCTION);
    return file ? file->Information(lpFileInformation) : FALSE;
}

DWORD GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD /*dwFlags*/) {
    auto file = kavex::posix::LookupObjectAs<DiskFile>(hFile, ERROR_INVALID_FUNCTION);
    return file ? file->FinalPath(lpszFilePath, cchFilePath) : 0;
}
