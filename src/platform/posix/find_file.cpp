// FindFirstFileA, FindNextFileA and FindClose over directory streams. The
// last path component may hold the wildcards * and ?, matched without regard
// to case as on Windows; a name without wildcards finds exactly that file.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/drive_paths.h"
#include "platform/posix/errors.h"
#include "platform/posix/file_info.h"
#include "platform/posix/handles.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

class FindSearch final : public KernelObject {
public:
    // A search for one exact name: the first result is all there is.
    FindSearch() = default;
    FindSearch(std::string directory, std::string pattern, std::unique_ptr<DIR, DirCloser> stream)
        : directory_(std::move(directory)), pattern_(std::move(pattern)), stream_(std::move(stream)) {}

    // The next matching entry; false with ERROR_NO_MORE_FILES at the end.
    bool Next(WIN32_FIND_DATAA* data) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stream_) return Fail(ERROR_NO_MORE_FILES);
        while (dirent* entry = readdir(stream_.get())) {
            if (fnmatch(pattern_.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
            const std::string path = directory_ + "/" + entry->d_name;
            struct stat status {};
            if (lstat(path.c_str(), &status) != 0) continue;  // gone meanwhile
            if (S_ISLNK(status.st_mode)) stat(path.c_str(), &status);
            FillFindData(status, entry->d_name, data);
            return true;
        }
        return Fail(ERROR_NO_MORE_FILES);
    }

private:
    std::mutex mutex_;
    std::string directory_;
    std::string pattern_;
    std::unique_ptr<DIR, DirCloser> stream_;
};

bool HasWildcards(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

}  // namespace

}  // namespace kavex::posix

using kavex::posix::FindSearch;

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = kavex::posix::NativePath(lpFileName);
    const std::string directory = kavex::posix::DirectoryOf(path);
    std::string name = kavex::posix::FileNameOf(path.c_str());
    if (name.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<FindSearch> search;
    if (!kavex::posix::HasWildcards(name)) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) {
            kavex::posix::FailWithPathError(path.c_str());
            return INVALID_HANDLE_VALUE;
        }
        kavex::posix::FillFindData(status, name.c_str(), lpFindFileData);
        search = std::make_shared<FindSearch>();
    } else {
        if (name == "*.*") name = "*";  // every name, with or without a dot
        std::unique_ptr<DIR, kavex::posix::DirCloser> stream(opendir(directory.c_str()));
        if (!stream) {
            SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                             : kavex::posix::Win32ErrorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
        search = std::make_shared<FindSearch>(directory, name, std::move(stream));
        if (!search->Next(lpFindFileData)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    return kavex::posix::InsertObject(std::move(search));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto search = kavex::posix::LookupObjectAs<FindSearch>(hFindFile, ERROR_INVALID_HANDLE);
    if (!search) return FALSE;
    if (lpFindFileData == nullptr) return kavex::posix::Fail(ERROR_INVALID_PARAMETER);
    return search->Next(lpFindFileData) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (!kavex::posix::LookupObjectAs<FindSearch>(hFindFile, ERROR_INVALID_HANDLE)) return FALSE;
    return kavex::posix::RemoveObject(hFindFile) ? TRUE : FALSE;
}
