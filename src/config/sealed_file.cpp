#include "config/sealed_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "config/crc32.h"
#include "config/file_location.h"
#include "config/rc4.h"

namespace kavex::config {

// "PtYgj%mU#h/Bel31iEl+2h)", the byte 0x07, and "q".
const std::uint8_t kSealingKey[kSealingKeyLength] = {'P', 't', 'Y', 'g', 'j', '%',  'm', 'U', '#',
                                                     'h', '/', 'B', 'e', 'l', '3',  '1', 'i', 'E',
                                                     'l', '+', '2', 'h', ')', 0x07, 'q'};

namespace {

constexpr std::size_t kTrailerSize = 4;

// Throws std::bad_alloc when the checksum's table cannot be had: a CRC of 0
// in its place would seal a file that never verifies, or take a good file
// for a damaged one.
std::uint32_t ChecksumOf(const std::uint8_t* record, std::size_t size) {
    const CCrc32 crc32;
    std::uint32_t crc = 0;
    if (crc32.Calculate(reinterpret_cast<const char*>(record),
                        static_cast<std::uint32_t>(size - kTrailerSize), crc) != 0) {
        throw std::bad_alloc();
    }
    return crc;
}

// A caught file error, ended with Delete however the catcher leaves.
struct FileExceptionDeleter {
    void operator()(CFileException* error) const { error->Delete(); }
};
using OwnedFileException = std::unique_ptr<CFileException, FileExceptionDeleter>;

// The description of a file error as the owner reports it: formatted into
// a buffer of `limit` bytes.
std::string Describe(const CFileException& error, std::size_t limit) {
    std::vector<char> text(limit < 2 ? 2 : limit, '\0');
    error.GetErrorMessage(text.data(), static_cast<UINT>(text.size()));
    return text.data();
}

// How long a load or save waits for another one to let go of the file,
// measured by the clock. The module opens its files without sharing, and a
// load or save holds a file only for a moment, so a short wait outlasts
// any of them.
constexpr DWORD kShareRetryMs = 200;
constexpr DWORD kShareRetryStepMs = 2;

// A temporary file left behind by an interrupted save is this old at least
// (a running save renames its file within milliseconds of writing it).
constexpr std::uint64_t kStaleTempTicks = 2ull * 10000000ull;  // 2 s in 100 ns ticks
// How much of them one save takes on: it removes at most this many (a later
// save removes the rest), and looks at no more than this many names of its
// pattern in all. That is every name GetTempFileNameA can give a prefix, so
// young or held files listed first never hide a stale one; the bound only
// keeps a save short in a directory crowded with other names of the pattern.
constexpr int kMaxStaleTempsRemovedPerSave = 256;
constexpr int kMaxTempsExaminedPerSave = 0x10000;

// Makes `attempt` until it succeeds, fails for another reason than another
// handle holding the file (`held` tells), or kShareRetryMs have passed
// since the first attempt.
template <class Attempt, class Held>
bool RetryWhileHeld(Attempt attempt, Held held) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (attempt()) return true;
        if (!held() || GetTickCount() - start >= kShareRetryMs) return false;
        Sleep(kShareRetryStepMs);
    }
}

// Opens `path`, trying again for a bounded time while another handle holds
// it (a load or save, in this process or another).
BOOL OpenWithRetry(CFile& file, const char* path, UINT flags, CFileException* error) {
    const bool opened = RetryWhileHeld([&] { return file.Open(path, flags, error) != FALSE; },
                                       [&] { return error->m_cause == CFileException::sharingViolation; });
    return opened ? TRUE : FALSE;
}

// The errors with which replacing a file fails while another handle holds
// it (a load reading it at that moment, in this process or another).
bool IsHeldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
           error == ERROR_ACCESS_DENIED;
}

std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Removes the temporary files that interrupted saves left in `directory`:
// those old enough and held open by no one (a running save holds its file
// without sharing while it writes it). The work is bounded by what it
// removes, kMaxStaleTempsRemovedPerSave, and generously by the names it
// looks at, kMaxTempsExaminedPerSave.
void RemoveStaleTemps(const std::string& directory, const char* prefix) {
    char name[16] = {};
    std::snprintf(name, sizeof name, "%.3s*.tmp", prefix);
    std::string pattern;
    if (!ComposePath(directory, name, MAX_PATH, &pattern)) return;
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    int examined = 0;
    int removed = 0;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (Ticks(now) < Ticks(data.ftLastWriteTime) + kStaleTempTicks) continue;
        std::string path;
        if (!ComposePath(directory, data.cFileName, MAX_PATH, &path)) continue;
        const HANDLE probe =
            CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) continue;
        CloseHandle(probe);
        if (DeleteFileA(path.c_str())) ++removed;
    } while (removed < kMaxStaleTempsRemovedPerSave && ++examined < kMaxTempsExaminedPerSave &&
             FindNextFileA(search, &data));
    FindClose(search);
}

// The temporary file of one save: removed again unless it was moved into place.
class TempFile {
public:
    TempFile(const std::string& directory, const char* prefix) {
        if (GetTempFileNameA(directory.c_str(), prefix, 0, path_) == 0) {
            CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), directory.c_str());
        }
    }
    ~TempFile() {
        if (path_[0] != '\0') DeleteFileA(path_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const char* Path() const { return path_; }
    // After a failed move: the temporary name is gone when the move itself
    // happened and only a later step (the directory's sync) failed.
    void ReleaseIfMoved() {
        if (GetFileAttributesA(path_) == INVALID_FILE_ATTRIBUTES) path_[0] = '\0';
    }
    void Release() { path_[0] = '\0'; }

private:
    char path_[MAX_PATH] = {};
};

// The file a save replaces.
struct SaveTarget {
    std::string path;     // the file itself: symbolic links followed
    bool exists = false;  // false: the save creates it
};

// A path as the system resolved it, without the "\\?\" that Windows puts
// before a final path name.
std::string WithoutLongPathPrefix(const char* path) {
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) return std::string("\\\\") + (path + 8);
    if (std::strncmp(path, "\\\\?\\", 4) == 0) return path + 4;
    return path;
}

// The path of an open file as the system resolved it (every link followed),
// whatever its length; empty when the system cannot name the file.
std::string FinalPathOf(HANDLE file) {
    std::vector<char> resolved(MAX_PATH, '\0');
    DWORD length = GetFinalPathNameByHandleA(file, resolved.data(), MAX_PATH, FILE_NAME_NORMALIZED);
    if (length >= resolved.size()) {
        // The buffer was too small: `length` is the size the path needs.
        resolved.assign(static_cast<std::size_t>(length) + 1, '\0');
        length = GetFinalPathNameByHandleA(file, resolved.data(), static_cast<DWORD>(resolved.size()),
                                           FILE_NAME_NORMALIZED);
        if (length >= resolved.size()) return std::string();  // renamed meanwhile
    }
    if (length == 0) return std::string();
    return WithoutLongPathPrefix(resolved.data());
}

// Finds the file that a save to `path` replaces, and refuses what the save
// cannot replace whole: a file that is read-only, held against the owner's
// share mode by another handle (after a bounded wait), or not a regular file
// is a file error. False with *refusal set for a file with several hard
// links, since replacing it would separate its names (the others would keep
// the old contents), and for a file whose own path, links resolved, is
// MAX_PATH characters or longer, since the save could replace only the link.
bool FindSaveTarget(const char* path, UINT shareFlags, SaveTarget* target, std::string* refusal) {
    target->path = path;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;  // a new file
    CFile file;
    CFileException openError;
    if (!OpenWithRetry(file, path, CFile::modeReadWrite | shareFlags, &openError)) {
        ThrowFileException(openError.m_cause, openError.m_lOsError, path);
    }
    target->exists = true;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file.m_hFile, &information) && information.nNumberOfLinks > 1) {
        *refusal = std::string(path) + " has " + std::to_string(information.nNumberOfLinks) +
                   " hard links; a save would leave the other names with the old contents, so it is refused";
        return false;
    }
    const std::string resolved = FinalPathOf(file.m_hFile);
    if (resolved.size() >= MAX_PATH) {
        *refusal = std::string(path) + " names a file whose path is " + std::to_string(resolved.size()) +
                   " characters long, more than " + std::to_string(MAX_PATH - 1) +
                   "; a save could replace only the link, so it is refused";
        return false;
    }
    if (!resolved.empty()) target->path = resolved;
    file.Close();
    return true;
}

// Removes every temporary file of this prefix in `directory`, for an owner
// whose saves never run at the same time (see SealedFileModes). A file that
// cannot be removed (still open somewhere) stays.
void RemoveLeftovers(const std::string& directory, const char* prefix) {
    char pattern[16] = {};
    std::snprintf(pattern, sizeof pattern, "%.3s*.tmp", prefix);
    std::string search;
    if (!ComposePath(directory, pattern, MAX_PATH, &search)) return;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA(search.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string leftover;
        if (ComposePath(directory, data.cFileName, MAX_PATH, &leftover)) DeleteFileA(leftover.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

void WriteTemp(const TempFile& temp, const std::vector<std::uint8_t>& image) {
    CFile file;
    CFileException openError;
    if (!file.Open(temp.Path(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &openError)) {
        ThrowFileException(openError.m_cause, openError.m_lOsError, temp.Path());
    }
    const auto size = static_cast<UINT>(image.size());
    file.Write(image.data(), size);
    file.Flush();
    file.Close();
}

// WriteSealedFile without its guard against memory running out.
bool WriteSealed(const char* path, void* record, std::size_t size, std::string* error,
                 const SealedFileModes& modes) {
    if (path == nullptr || record == nullptr || size <= kTrailerSize || size > 0x7FFFFFFF) {
        if (error != nullptr) *error = "invalid sealed record request";
        return false;
    }
    auto* plain = static_cast<std::uint8_t*>(record);
    try {
        SaveTarget target;
        std::string refusal;
        if (!FindSaveTarget(path, modes.shareFlags, &target, &refusal)) {
            if (error != nullptr) *error = refusal;
            return false;
        }
        std::string directory = ".";
        DirectoryOfPath(target.path.c_str(), &directory);
        if (modes.removeLeftovers) {
            RemoveLeftovers(directory, modes.tempPrefix);
        } else {
            RemoveStaleTemps(directory, modes.tempPrefix);
        }

        StoreTrailer(plain, size);
        std::vector<std::uint8_t> image(size, 0);
        const CRc4 rc4;
        rc4.CryptCopy(kSealingKey, kSealingKeyLength, plain, static_cast<int>(size), image.data(),
                      static_cast<int>(size));
        TempFile temp(directory, modes.tempPrefix);
        WriteTemp(temp, image);
        // An existing file is replaced keeping its permissions and owner (on
        // Windows its attributes and security), trying again for a bounded
        // time while a load holds it; a new one is moved in place.
        DWORD code = ERROR_SUCCESS;
        const auto replace = [&] {
            if (ReplaceFileA(target.path.c_str(), temp.Path(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                             nullptr, nullptr)) {
                return true;
            }
            code = GetLastError();
            return false;
        };
        const auto move = [&] {
            if (MoveFileExA(temp.Path(), target.path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                return true;
            }
            code = GetLastError();
            return false;
        };
        const bool replaced =
            target.exists ? RetryWhileHeld(replace, [&] { return IsHeldByAnother(code); }) : move();
        if (!replaced) {
            temp.ReleaseIfMoved();
            CFileException::ThrowOsError(static_cast<LONG>(code), target.path.c_str());
        }
        temp.Release();
        return true;
    } catch (CFileException* fileError) {
        const OwnedFileException owned(fileError);  // deleted also if the description cannot be made
        if (error != nullptr) *error = Describe(*fileError, modes.descriptionLimit);
        return false;
    }
}

}  // namespace

void StoreTrailer(std::uint8_t* record, std::size_t size) {
    const std::uint32_t crc = ChecksumOf(record, size);
    std::uint8_t* trailer = record + size - kTrailerSize;
    for (std::size_t k = 0; k < kTrailerSize; ++k) trailer[k] = static_cast<std::uint8_t>(crc >> (8 * k));
}

bool TrailerMatches(const std::uint8_t* record, std::size_t size) {
    const std::uint8_t* trailer = record + size - kTrailerSize;
    std::uint32_t stored = 0;
    for (std::size_t k = 0; k < kTrailerSize; ++k)
        stored |= static_cast<std::uint32_t>(trailer[k]) << (8 * k);
    return stored == ChecksumOf(record, size);
}

SealedReadResult ReadSealedPrefix(const char* path, std::uint8_t* plain, std::size_t capacity,
                                  std::size_t* length, const SealedFileModes& modes) {
    SealedReadResult result;
    if (length != nullptr) *length = 0;
    if (path == nullptr || plain == nullptr || length == nullptr || capacity == 0 || capacity > 0x7FFFFFFF) {
        result.error = "invalid sealed record request";
        return result;
    }
    try {
        // One byte more than asked for tells a longer file without asking for
        // its length; only then is it asked for.
        std::vector<std::uint8_t> sealed(capacity + 1, 0);
        UINT read = 0;
        CFile file;
        try {
            CFileException openError;
            if (!OpenWithRetry(file, path, CFile::modeRead | modes.shareFlags, &openError)) {
                if (openError.m_cause == CFileException::fileNotFound ||
                    openError.m_cause == CFileException::badPath) {
                    result.status = SealedReadStatus::kMissing;
                    return result;
                }
                ThrowFileException(openError.m_cause, openError.m_lOsError, path);
            }
            read = file.Read(sealed.data(), static_cast<UINT>(capacity + 1));
            result.fileLength = read <= capacity ? read : file.GetLength();
            file.Close();
        } catch (CFileException* error) {
            const OwnedFileException owned(error);  // deleted also if the description cannot be made
            file.Abort();
            result.error = Describe(*error, modes.descriptionLimit);
            result.status = SealedReadStatus::kFileError;
            return result;
        }
        if (read > capacity) read = static_cast<UINT>(capacity);
        if (read > 0) {
            const CRc4 rc4;
            rc4.CryptCopy(kSealingKey, kSealingKeyLength, sealed.data(), static_cast<int>(read), plain,
                          static_cast<int>(capacity));
        }
        *length = read;
        result.status = SealedReadStatus::kOk;
    } catch (const std::bad_alloc&) {
        result.status = SealedReadStatus::kFileError;
        result.error = "not enough memory to load " + std::string(path);
    }
    return result;
}

SealedReadResult ReadSealedFile(const char* path, void* record, std::size_t size, UINT shareFlags) {
    if (record == nullptr || size <= kTrailerSize) {
        SealedReadResult result;
        result.error = "invalid sealed record request";
        return result;
    }
    SealedFileModes modes;
    modes.shareFlags = shareFlags;
    std::vector<std::uint8_t> plain;
    try {
        plain.assign(size, 0);
    } catch (const std::bad_alloc&) {
        SealedReadResult result;
        result.error = "not enough memory to load " + std::string(path != nullptr ? path : "");
        return result;
    }
    std::size_t length = 0;
    SealedReadResult result = ReadSealedPrefix(path, plain.data(), size, &length, modes);
    if (result.status != SealedReadStatus::kOk) return result;
    if (length < size) {
        result.status = SealedReadStatus::kShort;
        return result;
    }
    try {
        if (!TrailerMatches(plain.data(), size)) {
            result.status = SealedReadStatus::kCorrupt;
            return result;
        }
    } catch (const std::bad_alloc&) {
        result.status = SealedReadStatus::kFileError;
        result.error = "not enough memory to load " + std::string(path);
        return result;
    }
    std::memcpy(record, plain.data(), size);
    return result;
}

bool WriteSealedFile(const char* path, void* record, std::size_t size, std::string* error) {
    return WriteSealedFile(path, record, size, error, SealedFileModes());
}

bool WriteSealedFile(const char* path, void* record, std::size_t size, std::string* error,
                     const SealedFileModes& modes) {
    try {
        return WriteSealed(path, record, size, error, modes);
    } catch (const std::bad_alloc&) {
        // Memory ran out, also while a failure was being described.
        if (error != nullptr) error->clear();
        return false;
    }
}

}  // namespace kavex::config
