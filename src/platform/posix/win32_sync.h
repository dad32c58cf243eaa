// Win32 synchronization: events, named mutexes, waits (alertable ones run
// the calling thread's queued completion routines) and the run-time lookup
// of system functions.
//
// A mutex is owned by a thread and re-entrant for it (each ReleaseMutex
// undoes one wait); a thread that did not wait for it cannot release it.
// When its owner ends without releasing it, the next waiter gets it with
// WAIT_ABANDONED. Named objects live in POSIX shared memory, private to one
// KAVEX_PREFIX; they disappear when the last process using them closes them
// or ends, as on Windows.
#pragma once

#include "platform/posix/win32_types.h"

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_IO_COMPLETION 0x000000C0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define ERROR_NOT_OWNER 288u

// Unnamed events only (a name fails with ERROR_NOT_SUPPORTED).
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable);
DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);

// "KERNEL32.DLL" is the one module known here; GetProcAddress finds in it
// the functions that callers look up at run time rather than import.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
