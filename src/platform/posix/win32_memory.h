// Win32 file mappings backed by the paging file: CreateFileMappingA on
// INVALID_HANDLE_VALUE and MapViewOfFile. Named mappings are shared between
// the processes of one KAVEX_PREFIX (POSIX shared memory).
#pragma once

#include <cstddef>

#include "platform/posix/win32_types.h"

using SIZE_T = std::size_t;

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define SEC_COMMIT 0x08000000u

#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

#ifndef ERROR_MAPPED_ALIGNMENT
#define ERROR_MAPPED_ALIGNMENT 1132u
#endif

// The size is fixed by the process that creates the mapping; opening an
// existing one by name gives it with its own size (ERROR_ALREADY_EXISTS).
HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName);
// A view of dwNumberOfBytesToMap bytes (0: the rest of the mapping) from an
// offset that is a multiple of 65536. A view past the mapping's end is
// refused with ERROR_ACCESS_DENIED. Views stay mapped until the process ends.
LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
