#include "config/sealed_file.h"

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

constexpr std::size_t kTrailerSize = 4;

std::uint32_t ChecksumOf(const std::uint8_t* record, std::size_t size) {
    const CCrc32 crc32;
    std::uint32_t crc = 0;
    crc32.Calculate(reinterpret_cast<const char*>(record), static_cast<std::uint32_t>(size - kTrailerSize),
                    crc);
    return crc;
}

// The description of a file error as the load and save steps report it: at
// most 259 characters.
std::string Describe(const CFileException& error) {
    char text[MAX_PATH] = {};
    error.GetErrorMessage(text, sizeof text);
    return text;
}

// The temporary file of one save: removed again unless it was moved into place.
class TempFile {
public:
    explicit TempFile(const char* targetPath) {
        std::string directory = ".";
        DirectoryOfPath(targetPath, &directory);
        if (GetTempFileNameA(directory.c_str(), "~kv", 0, path_) == 0) {
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
// and writing without sharing. It refuses a read-only file and a file that
// another handle holds, in this process or another. A missing target is
// fine: the move creates it.
void CheckTarget(const char* path) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
    CFile target(path, CFile::modeReadWrite | CFile::shareExclusive);
    target.Close();
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

SealedReadResult ReadSealedFile(const char* path, void* record, std::size_t size, UINT shareFlags) {
    SealedReadResult result;
    if (path == nullptr || record == nullptr || size <= kTrailerSize || size > 0x7FFFFFFF) {
        result.error = "invalid sealed record request";
        return result;
    }
    std::vector<std::uint8_t> sealed(size, 0);
    UINT read = 0;
    CFile file;
    try {
        CFileException openError;
        if (!file.Open(path, CFile::modeRead | shareFlags, &openError)) {
            if (openError.m_cause == CFileException::fileNotFound) {
                result.status = SealedReadStatus::kMissing;
                return result;
            }
            ThrowFileException(openError.m_cause, openError.m_lOsError, path);
        }
        result.fileLength = file.GetLength();
        read = file.Read(sealed.data(), static_cast<UINT>(size));
        file.Close();
    } catch (CFileException* error) {
        result.error = Describe(*error);
        error->Delete();
        file.Abort();
        result.status = SealedReadStatus::kFileError;
        return result;
    }
    if (read < size) {
        result.status = SealedReadStatus::kShort;
        return result;
    }
    std::vector<std::uint8_t> plain(size, 0);
    const CRc4 rc4;
    if (!rc4.CryptCopy(kSealingKey, kSealingKeyLength, sealed.data(), static_cast<int>(size), plain.data(),
                       static_cast<int>(size))) {
        result.status = SealedReadStatus::kCorrupt;
        return result;
    }
    if (!TrailerMatches(plain.data(), size)) {
        result.status = SealedReadStatus::kCorrupt;
        return result;
    }
    std::memcpy(record, plain.data(), size);
    result.status = SealedReadStatus::kOk;
    return result;
}

bool WriteSealedFile(const char* path, void* record, std::size_t size, std::string* error) {
    if (path == nullptr || record == nullptr || size <= kTrailerSize || size > 0x7FFFFFFF) {
        if (error != nullptr) *error = "invalid sealed record request";
        return false;
    }
    auto* plain = static_cast<std::uint8_t*>(record);
    try {
        CheckTarget(path);
        StoreTrailer(plain, size);
        std::vector<std::uint8_t> image(size, 0);
        const CRc4 rc4;
        rc4.CryptCopy(kSealingKey, kSealingKeyLength, plain, static_cast<int>(size), image.data(),
                      static_cast<int>(size));
        TempFile temp(path);
        WriteTemp(temp, image);
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
        if (error != nullptr) *error = Describe(*fileError);
        fileError->Delete();
        return false;
    }
}

}  // namespace kavex::config
