// Win32 named mutexes and the wait on them.
//
// A mutex is owned by a thread and re-entrant for it (each ReleaseMutex
// undoes one wait); a thread that did not wait for it cannot release it.
// When its owner ends without releasing it, the next waiter gets it with
// WAIT_ABANDONED. Named objects live in POSIX shared memory, private to one
// KAVEX_PREFIX; they disappear when the last process using them closes them
// or ends, as on Windows.
#pragma once

#include "platform/posix/win32_types.h"

#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif
#ifndef WAIT_OBJECT_0
#define WAIT_OBJECT_0 0x00000000u
#endif
#ifndef WAIT_ABANDONED
#define WAIT_ABANDONED 0x00000080u
#endif
#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 0x00000102u
#endif
#ifndef WAIT_FAILED
#define WAIT_FAILED 0xFFFFFFFFu
#endif
#ifndef ERROR_NOT_OWNER
#define ERROR_NOT_OWNER 288u
#endif

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
