// Win32 registry reading: RegOpenKeyA, RegQueryValueExA and RegCloseKey
// under HKEY_LOCAL_MACHINE.
//
// The machine's registry is $KAVEX_PREFIX/system.reg, a text file in the
// format that "regedit /E" writes (REGEDIT4; the header of the later format,
// "Windows Registry Editor Version 5.00", is read the same way when the file
// is 8-bit text). A key exported on Windows can be carried over as it is.
#pragma once

#include <cstdint>

#include "platform/posix/win32_types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using LPBYTE = BYTE*;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161u
#endif
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234u
#endif

// Each returns a Win32 error code (ERROR_SUCCESS on success) and leaves the
// thread's last error alone, as the registry functions do.
LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegCloseKey(HKEY hKey);
