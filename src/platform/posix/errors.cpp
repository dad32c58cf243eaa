#include "platform/posix/errors.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/posix/drive_paths.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

namespace kavex::posix {

DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EBUSY: return ERROR_ACCESS_DENIED;
        case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case EEXIST: return ERROR_FILE_EXISTS;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL;
        case EROFS: return ERROR_WRITE_PROTECT;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case ENOTTY:
        case ENOSYS:
        case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
        case ENXIO:
        case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
        case EIO: return ERROR_IO_DEVICE;
        case EFAULT: return ERROR_NOACCESS;
        case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
        default: return ERROR_GEN_FAILURE;
    }
}

BOOL FailWithErrno() {
    SetLastError(Win32ErrorFromErrno(errno));
    return FALSE;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

DWORD PathError(const char* path, int error) {
    if (error == ENOENT) {
        struct stat status {};
        const std::string directory = DirectoryOf(path);
        if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    return Win32ErrorFromErrno(error);
}

BOOL FailWithPathError(const char* path) {
    SetLastError(PathError(path, errno));
    return FALSE;
}

}  // namespace kavex::posix
