// The one door from module code to the operating system.
//
// Module code is written against the Win32 API. On Windows this header is
// <windows.h>; elsewhere it declares exactly the Win32 subset the module uses,
// implemented with Win32 semantics (results and GetLastError codes) over POSIX
// in src/platform/posix/.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "platform/posix/win32_comm.h"
#include "platform/posix/win32_file.h"
#include "platform/posix/win32_memory.h"
#include "platform/posix/win32_registry.h"
#include "platform/posix/win32_sync.h"
#include "platform/posix/win32_system.h"
#include "platform/posix/win32_types.h"
#endif
