// Win32 attributes and find data for a file's status.
#pragma once

#include <sys/stat.h>

#include "platform/posix/win32_file.h"

namespace kavex::posix {

// The attributes Windows would report: directory, read-only (no write
// permission bit), hidden (a name starting with a dot), else normal.
DWORD AttributesFromStatus(const struct stat& status, const char* name);

// A time as Windows counts it: 100 ns ticks since 1601-01-01 UTC.
FILETIME FileTimeFrom(const timespec& time);

// Fills attributes, times, size and the name (cut to fit) of a find record.
void FillFindData(const struct stat& status, const char* name, WIN32_FIND_DATAA* data);

}  // namespace kavex::posix
