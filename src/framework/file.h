// CFile: one open file through the Win32 file API, and CFileException, the
// failure it reports.
//
// Failing operations throw a heap CFileException by pointer; the catcher
// owns it and ends it with Delete(). Open() with an exception object is the
// one operation that reports failure by result instead.
#pragma once

#include <cstdint>
#include <string>

#include "framework/exception.h"

class CFileException : public CException {
    KAVEX_DECLARE_DYNAMIC(CFileException)

public:
    // The causes, grouped from the many Win32 codes.
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    explicit CFileException(int cause = none, LONG osError = -1, LPCSTR fileName = nullptr);

    // A sentence naming the cause and the file.
    BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, PUINT helpContext = nullptr) const override;
    std::string GetErrorMessage() const;

    // The cause for a Win32 error code.
    static int OsErrorToException(LONG osError);
    // Throws a CFileException for a Win32 error code.
    [[noreturn]] static void ThrowOsError(LONG osError, LPCSTR fileName = nullptr);

    int m_cause;
    LONG m_lOsError;  // the Win32 code, -1 when there is none
    std::string m_strFileName;
};

// Throws a new CFileException by pointer (a preallocated one when memory is
// short; its Delete does nothing).
[[noreturn]] void ThrowFileException(int cause, LONG osError = -1, LPCSTR fileName = nullptr);

class CFile : public CObject {
    KAVEX_DECLARE_DYNAMIC(CFile)

public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,      // create the file; empties an existing one...
        modeNoTruncate = 0x2000,  // ...unless this is given too (open-always)
        osWriteThrough = 0x10000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CFile();
    // Wraps a handle the caller opened; the object does not close it.
    explicit CFile(HANDLE hFile);
    // Opens the file or throws a CFileException.
    CFile(LPCSTR fileName, UINT openFlags);
    // Closes a file the object opened, ignoring any error.
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the file. On failure returns FALSE and, when `error` is given,
    // fills it with the cause; it never throws.
    virtual BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr);

    // Reads up to `count` bytes; fewer only at the end of the file.
    virtual UINT Read(void* buffer, UINT count);
    // Writes all `count` bytes; a write that stores fewer is a diskFull error.
    virtual void Write(const void* buffer, UINT count);
    virtual std::uint64_t Seek(std::int64_t offset, UINT from);
    void SeekToBegin() { Seek(0, begin); }
    std::uint64_t SeekToEnd() { return Seek(0, end); }
    virtual std::uint64_t GetPosition() const;
    // Cuts or extends the file to `newLength` bytes and moves to its end.
    virtual void SetLength(std::uint64_t newLength);
    virtual std::uint64_t GetLength() const;
    // Writes the system's buffers for the file to the disk.
    virtual void Flush();
    // Closes the file; an error is thrown after the handle is released.
    virtual void Close();
    // Closes the file, ignoring every error.
    virtual void Abort();

    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE && m_hFile != nullptr; }
    const std::string& GetFilePath() const { return m_strFileName; }

    HANDLE m_hFile;

protected:
    [[noreturn]] void ThrowLastError() const;

    BOOL m_bCloseOnDelete;
    std::string m_strFileName;
};
