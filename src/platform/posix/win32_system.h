// Win32 system services: code page conversions, message texts, local memory,
// string copy, message box, debugger output, the tick count and sleep.
#pragma once

#include <cstdarg>

#include "platform/posix/win32_types.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

#define LANG_NEUTRAL 0x00
#define SUBLANG_SYS_DEFAULT 0x02
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))

#define MB_OK 0x00000000u
#define IDOK 1

// Code pages: the ANSI code page of this system is GBK (936).
#define CP_ACP 0u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define ERROR_NO_UNICODE_TRANSLATION 1113u
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBOOL = BOOL*;

// Invalid input always fails with ERROR_NO_UNICODE_TRANSLATION (as with
// MB_ERR_INVALID_CHARS); a character GBK cannot hold becomes the default
// character and sets *lpUsedDefaultChar.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);
HLOCAL LocalFree(HLOCAL hMem);
LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
// Writes the caption and the text (converted from GBK) to standard error.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
// Sends the text to syslog at debug priority.
void OutputDebugStringA(LPCSTR lpOutputString);
// Milliseconds on a clock that only goes forward (from the system's start,
// wrapping to 0 after 49.7 days: measure intervals by unsigned difference).
DWORD GetTickCount();
void Sleep(DWORD dwMilliseconds);
