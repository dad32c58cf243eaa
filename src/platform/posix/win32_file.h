// Win32 handle and file API: CreateFileA (serial devices and regular files),
// ReadFile, WriteFile, FlushFileBuffers, CloseHandle, and the file services
// the configuration store uses.
#pragma once

#include "platform/posix/win32_types.h"

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CloseHandle(HANDLE hObject);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
BOOL FlushFileBuffers(HANDLE hFile);

// Overlapped transfers (handles opened with FILE_FLAG_OVERLAPPED). The Ex
// forms end by queueing the completion routine to the issuing thread, which
// runs it in an alertable wait (SleepEx, WaitForSingleObjectEx).
using LPOVERLAPPED_COMPLETION_ROUTINE = void(CALLBACK*)(DWORD dwErrorCode, DWORD dwNumberOfBytesTransfered,
                                                        LPOVERLAPPED lpOverlapped);
BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPOVERLAPPED lpOverlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
BOOL WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPOVERLAPPED lpOverlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                         BOOL bWait);
// Ends the calling thread's pending transfers on the handle with
// ERROR_OPERATION_ABORTED. Callers find it through GetProcAddress, as on
// systems that may lack it.
BOOL CancelIo(HANDLE hFile);

// File pointer, length and size.
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL SetEndOfFile(HANDLE hFile);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);

// File attributes. On this system a file is read-only when it has no write
// permission bit.
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);

// File times: 100 ns ticks since 1601-01-01 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// What a handle's file is: attributes, times, size and its number of links.
struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
using LPBY_HANDLE_FILE_INFORMATION = BY_HANDLE_FILE_INFORMATION*;

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);

// The full path of the file a handle has open, links resolved. The result
// is its length (without the terminator), or the size needed (with it) when
// the buffer is too small, or 0 on failure.
#define FILE_NAME_NORMALIZED 0x0u
DWORD GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags);

void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime);

// Moving, deleting and temporary files.
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u
#define ERROR_NOT_SAME_DEVICE 17u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_MOD_NOT_FOUND 126u

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

// Replaces an existing file with another, which takes the replaced file's
// permissions and, where the process may give it, its owner (on Windows:
// its attributes and security); the change of names is made durable. No
// backup file is supported here. A replaced name that is a symbolic link,
// no regular file, or read-only fails with ERROR_UNABLE_TO_REMOVE_REPLACED.
#define REPLACEFILE_IGNORE_MERGE_ERRORS 0x00000002u
#define ERROR_UNABLE_TO_REMOVE_REPLACED 1175u
#define ERROR_UNABLE_TO_MOVE_REPLACEMENT 1176u
BOOL ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName, LPCSTR lpBackupFileName,
                  DWORD dwReplaceFlags, LPVOID lpExclude, LPVOID lpReserved);
BOOL DeleteFileA(LPCSTR lpFileName);
// Creates a new empty file named <path><sep><prefix, 3 chars><hex>.tmp and
// returns its unique number (0 with the last error set on failure).
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);

// Directory searches.

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// The path of the host program's executable (hModule NULL; no other module
// is known here).
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// The device map. QueryDosDeviceA("COMn") gives the device the layer opens
// for COMn ($KAVEX_PREFIX/dosdevices/comn when that link exists, else
// /dev/ttyS(n-1)), as one string followed by the empty string that ends the
// list; any other name fails with ERROR_FILE_NOT_FOUND.
DWORD QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax);
// The directory that stands for what Windows keeps system-wide (the Windows
// directory): $KAVEX_PREFIX, /etc/kavex by default.
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
