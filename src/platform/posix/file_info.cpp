#include "platform/posix/file_info.h"

#include <cstdint>
#include <cstring>

#include "platform/posix/disk_file.h"

namespace kavex::posix {

namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::uint64_t kFileTimeEpochOffset = 11644473600ULL;

}  // namespace

FILETIME FileTimeFrom(const timespec& time) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.tv_sec) + kFileTimeEpochOffset) * 10000000ULL +
        static_cast<std::uint64_t>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesFromStatus(const struct stat& status, const char* name) {
    DWORD attributes = 0;
    if (S_ISDIR(status.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnlyMode(status.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (name != nullptr && name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

void FillFindData(const struct stat& status, const char* name, WIN32_FIND_DATAA* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = AttributesFromStatus(status, name);
    data->ftCreationTime = FileTimeFrom(status.st_ctim);
    data->ftLastAccessTime = FileTimeFrom(status.st_atim);
    data->ftLastWriteTime = FileTimeFrom(status.st_mtim);
    const auto size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::strncpy(data->cFileName, name, sizeof data->cFileName - 1);
}

}  // namespace kavex::posix
