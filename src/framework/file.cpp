#include "framework/file.h"

#include <cstdio>
#include <new>
#include <vector>

KAVEX_IMPLEMENT_DYNAMIC(CFileException, CException)
KAVEX_IMPLEMENT_DYNAMIC(CFile, CObject)

namespace {

const char* CauseText(int cause) {
    switch (cause) {
        case CFileException::none: return "No error occurred while accessing %s.";
        case CFileException::fileNotFound: return "%s was not found.";
        case CFileException::badPath: return "All or part of the path of %s is invalid.";
        case CFileException::tooManyOpenFiles: return "%s could not be opened: too many files are open.";
        case CFileException::accessDenied: return "Access to %s was denied.";
        case CFileException::invalidFile: return "An invalid file handle was used with %s.";
        case CFileException::removeCurrentDir: return "%s could not be removed: it is the current directory.";
        case CFileException::directoryFull: return "%s could not be created: the directory is full.";
        case CFileException::badSeek: return "A seek on %s failed.";
        case CFileException::hardIO: return "A hardware I/O error occurred while accessing %s.";
        case CFileException::sharingViolation: return "A sharing violation occurred while accessing %s.";
        case CFileException::lockViolation: return "A locking violation occurred while accessing %s.";
        case CFileException::diskFull: return "The disk is full while accessing %s.";
        case CFileException::endOfFile: return "An attempt was made to access %s past its end.";
        default: return "An unexpected error occurred while accessing %s.";
    }
}

}  // namespace

CFileException::CFileException(int cause, LONG osError, LPCSTR fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName != nullptr ? fileName : "") {}

BOOL CFileException::GetErrorMessage(LPSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext != nullptr) *helpContext = 0;
    if (buffer == nullptr || maxChars == 0) return FALSE;
    const char* name = m_strFileName.empty() ? "an unnamed file" : m_strFileName.c_str();
    // The sentence is cut to fit the caller's buffer; snprintf terminates it.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    std::snprintf(buffer, maxChars, CauseText(m_cause), name);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return TRUE;
}

std::string CFileException::GetErrorMessage() const {
    std::vector<char> buffer(m_strFileName.size() + 128, '\0');
    const CException& self = *this;
    self.GetErrorMessage(buffer.data(), static_cast<UINT>(buffer.size()));
    return std::string(buffer.data());
}

int CFileException::OsErrorToException(LONG osError) {
    switch (static_cast<DWORD>(osError)) {
        case NO_ERROR: return none;
        case ERROR_FILE_NOT_FOUND: return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE: return badPath;
        case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return accessDenied;
        case ERROR_INVALID_HANDLE: return invalidFile;
        case ERROR_NEGATIVE_SEEK: return badSeek;
        case ERROR_CRC:
        case ERROR_NOT_READY:
        case ERROR_WRITE_FAULT:
        case ERROR_READ_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE: return hardIO;
        case ERROR_SHARING_VIOLATION: return sharingViolation;
        case ERROR_LOCK_VIOLATION: return lockViolation;
        case ERROR_DISK_FULL: return diskFull;
        case ERROR_HANDLE_EOF: return endOfFile;
        default: return genericException;
    }
}

void CFileException::ThrowOsError(LONG osError, LPCSTR fileName) {
    ThrowFileException(OsErrorToException(osError), osError, fileName);
}

void ThrowFileException(int cause, LONG osError, LPCSTR fileName) {
    CFileException* error = new (std::nothrow) CFileException(cause, osError, fileName);
    if (error == nullptr) {
        static thread_local CFileException t_fallback;
        t_fallback.m_bAutoDelete = FALSE;
        t_fallback.m_cause = cause;
        t_fallback.m_lOsError = osError;
        t_fallback.m_strFileName.clear();
        error = &t_fallback;
    }
    throw error;
}

CFile::CFile() : m_hFile(INVALID_HANDLE_VALUE), m_bCloseOnDelete(FALSE) {}

CFile::CFile(HANDLE hFile) : m_hFile(hFile), m_bCloseOnDelete(FALSE) {}

CFile::CFile(LPCSTR fileName, UINT openFlags) : CFile() {
    CFileException error;
    if (!CFile::Open(fileName, openFlags, &error)) {
        ThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName.c_str());
    }
}

CFile::~CFile() {
    if (IsOpen() && m_bCloseOnDelete) CFile::Abort();  // no derived part exists any more
}

BOOL CFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error) {
    auto fail = [&](int cause, LONG osError) {
        if (error != nullptr) {
            error->m_cause = cause;
            error->m_lOsError = osError;
            error->m_strFileName = fileName != nullptr ? fileName : "";
        }
        return FALSE;
    };
    if (IsOpen()) return fail(CFileException::genericException, -1);
    if (fileName == nullptr || *fileName == '\0') return fail(CFileException::badPath, ERROR_INVALID_NAME);

    DWORD access = 0;
    switch (openFlags & 3u) {
        case modeRead: access = GENERIC_READ; break;
        case modeWrite: access = GENERIC_WRITE; break;
        case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
        default: return fail(CFileException::genericException, ERROR_INVALID_PARAMETER);
    }
    DWORD share = 0;
    switch (openFlags & 0x70u) {
        case shareCompat:
        case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
        case shareExclusive: share = 0; break;
        case shareDenyWrite: share = FILE_SHARE_READ; break;
        case shareDenyRead: share = FILE_SHARE_WRITE; break;
        default: return fail(CFileException::genericException, ERROR_INVALID_PARAMETER);
    }
    DWORD disposition = OPEN_EXISTING;
    if (openFlags & modeCreate) disposition = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    const DWORD attributes =
        FILE_ATTRIBUTE_NORMAL | ((openFlags & osWriteThrough) ? FILE_FLAG_WRITE_THROUGH : 0);

    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = (openFlags & modeNoInherit) ? FALSE : TRUE;
    const HANDLE handle = CreateFileA(fileName, access, share, &security, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return fail(CFileException::OsErrorToException(static_cast<LONG>(code)), static_cast<LONG>(code));
    }
    m_hFile = handle;
    m_bCloseOnDelete = TRUE;
    m_strFileName = fileName;
    return TRUE;
}

void CFile::ThrowLastError() const {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName.c_str());
}

UINT CFile::Read(void* buffer, UINT count) {
    if (count == 0) return 0;
    DWORD read = 0;
    if (!ReadFile(m_hFile, buffer, count, &read, nullptr)) ThrowLastError();
    return read;
}

void CFile::Write(const void* buffer, UINT count) {
    if (count == 0) return;
    DWORD written = 0;
    if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) ThrowLastError();
    if (written < count) ThrowFileException(CFileException::diskFull, -1, m_strFileName.c_str());
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
    DWORD method = FILE_BEGIN;
    if (from == current) {
        method = FILE_CURRENT;
    } else if (from == end) {
        method = FILE_END;
    } else if (from != begin) {
        ThrowFileException(CFileException::badSeek, ERROR_INVALID_PARAMETER, m_strFileName.c_str());
    }
    LONG high = static_cast<LONG>(static_cast<std::uint64_t>(offset) >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(m_hFile, static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ThrowLastError();
    return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

std::uint64_t CFile::GetPosition() const {
    LONG high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(m_hFile, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ThrowLastError();
    return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

void CFile::SetLength(std::uint64_t newLength) {
    Seek(static_cast<std::int64_t>(newLength), begin);
    if (!SetEndOfFile(m_hFile)) ThrowLastError();
}

std::uint64_t CFile::GetLength() const {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(m_hFile, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) ThrowLastError();
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

void CFile::Flush() {
    if (!IsOpen()) return;
    if (!FlushFileBuffers(m_hFile)) ThrowLastError();
}

void CFile::Close() {
    BOOL closed = TRUE;
    DWORD code = NO_ERROR;
    if (IsOpen()) {
        closed = CloseHandle(m_hFile);
        if (!closed) code = GetLastError();
    }
    m_hFile = INVALID_HANDLE_VALUE;
    m_bCloseOnDelete = FALSE;
    const std::string name = m_strFileName;
    m_strFileName.clear();
    if (!closed) CFileException::ThrowOsError(static_cast<LONG>(code), name.c_str());
}

void CFile::Abort() {
    if (IsOpen()) CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    m_bCloseOnDelete = FALSE;
    m_strFileName.clear();
}
