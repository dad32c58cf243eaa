#include "config/sealed_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
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

std::atomic<SaveFaultHook> g_saveFaultHook{nullptr};

constexpr std::size_t kTrailerSize = 4;

std::uint32_t ChecksumOf(const std::uint8_t* record, std::size_t size) {
    const CCrc32 crc32;
    std::uint32_t crc = 0;
    crc32.Calculate(reinterpret_cast<const char*>(record), static_cast<std::uint32_t>(size - kTrailerSize),
                    crc);
    return crc;
}

// The description of a file error as the owner reports it: formatted into
// a buffer of `limit` bytes.
std::string Describe(const CFileException& error, std::size_t limit) {
    std::vector<char> text(limit < 2 ? 2 : limit, '\0');
    error.GetErrorMessage(text.data(), static_cast<UINT>(text.size()));
    return text.data();
}

void Step(SaveStep step, const char* path) {
    const SaveFaultHook hook = g_saveFaultHook.load();
    if (hook != nullptr && hook(step)) ThrowFileException(CFileException::hardIO, ERROR_WRITE_FAULT, path);
}

bool StepFails(SaveStep step) {
    const SaveFaultHook hook = g_saveFaultHook.load();
    return hook != nullptr && hook(step);
}

// The temporary file of one save: removed again unless it was moved into place.
class TempFile {
public:
    TempFile(const char* targetPath, const char* prefix) {
        std::string directory = ".";
        DirectoryOfPath(targetPath, &directory);
        Step(SaveStep::kCreateTemp, targetPath);
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
    void Release() { path_[0] = '\0'; }

private:
    char path_[MAX_PATH] = {};
};

// Opens the target as the save would have written it in place: for reading
// and writing with the owner's share mode. It refuses a read-only file and a
// file that another handle holds against it, in this process or another. A
// missing target is fine: the move creates it.
void CheckTarget(const char* path, UINT shareFlags) {
    Step(SaveStep::kOpenTarget, path);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
    CFile target(path, CFile::modeReadWrite | shareFlags);
    target.Close();
}

// Removes what interrupted saves of this prefix left beside the target.
// A file that cannot be removed (still open somewhere) stays.
void RemoveLeftovers(const char* targetPath, const char* prefix) {
    std::string directory = ".";
    DirectoryOfPath(targetPath, &directory);
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
    Step(SaveStep::kOpenTemp, temp.Path());
    if (!file.Open(temp.Path(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &openError)) {
        ThrowFileException(openError.m_cause, openError.m_lOsError, temp.Path());
    }
    const auto size = static_cast<UINT>(image.size());
    if (StepFails(SaveStep::kWriteTemp)) {
        file.Write(image.data(), size / 2);
        ThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, temp.Path());
    }
    file.Write(image.data(), size);
    Step(SaveStep::kFlushTemp, temp.Path());
    file.Flush();
    Step(SaveStep::kCloseTemp, temp.Path());
    file.Close();
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
    std::vector<std::uint8_t> sealed(capacity, 0);
    UINT read = 0;
    CFile file;
    try {
        CFileException openError;
        if (!file.Open(path, CFile::modeRead | modes.shareFlags, &openError)) {
            if (openError.m_cause == CFileException::fileNotFound) {
                result.status = SealedReadStatus::kMissing;
                return result;
            }
            ThrowFileException(openError.m_cause, openError.m_lOsError, path);
        }
        result.fileLength = file.GetLength();
        read = file.Read(sealed.data(), static_cast<UINT>(capacity));
        file.Close();
    } catch (CFileException* error) {
        result.error = Describe(*error, modes.descriptionLimit);
        error->Delete();
        file.Abort();
        result.status = SealedReadStatus::kFileError;
        return result;
    }
    if (read > 0) {
        const CRc4 rc4;
        rc4.CryptCopy(kSealingKey, kSealingKeyLength, sealed.data(), static_cast<int>(read), plain,
                      static_cast<int>(capacity));
    }
    *length = read;
    result.status = SealedReadStatus::kOk;
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
    std::vector<std::uint8_t> plain(size, 0);
    std::size_t length = 0;
    SealedReadResult result = ReadSealedPrefix(path, plain.data(), size, &length, modes);
    if (result.status != SealedReadStatus::kOk) return result;
    if (length < size) {
        result.status = SealedReadStatus::kShort;
        return result;
    }
    if (!TrailerMatches(plain.data(), size)) {
        result.status = SealedReadStatus::kCorrupt;
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
    if (path == nullptr || record == nullptr || size <= kTrailerSize || size > 0x7FFFFFFF) {
        if (error != nullptr) *error = "invalid sealed record request";
        return false;
    }
    auto* plain = static_cast<std::uint8_t*>(record);
    try {
        CheckTarget(path, modes.shareFlags);
        if (modes.removeLeftovers) RemoveLeftovers(path, modes.tempPrefix);
        StoreTrailer(plain, size);
        std::vector<std::uint8_t> image(size, 0);
        const CRc4 rc4;
        rc4.CryptCopy(kSealingKey, kSealingKeyLength, plain, static_cast<int>(size), image.data(),
                      static_cast<int>(size));
        TempFile temp(path, modes.tempPrefix);
        WriteTemp(temp, image);
        Step(SaveStep::kReplace, path);
        if (!MoveFileExA(temp.Path(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD code = GetLastError();
            // A move that failed only in its final directory sync has put the
            // new file in place already; the temporary name is gone then.
            if (GetFileAttributesA(temp.Path()) == INVALID_FILE_ATTRIBUTES) temp.Release();
            CFileException::ThrowOsError(static_cast<LONG>(code), path);
        }
        temp.Release();
        return true;
    } catch (CFileException* fileError) {
        if (error != nullptr) *error = Describe(*fileError, modes.descriptionLimit);
        fileError->Delete();
        return false;
    }
}

void SetSaveFaultHook(SaveFaultHook hook) { g_saveFaultHook.store(hook); }

}  // namespace kavex::config
