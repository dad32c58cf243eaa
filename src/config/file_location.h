// Where the module's files are: paths split into directory and name, and
// the files that live beside the host program's executable.
//
// Paths are Win32 paths. On Windows they use backslashes; the POSIX layer
// hands out paths with slashes, so both count as separators here. A composed
// path uses the separator its directory is written with, else the system's
// own.
#pragma once

#include <cstddef>
#include <string>

namespace kavex::config {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The directory part of `path`: everything before its last separator ("\"
// or "/"; the root itself when that is the first character). False when the
// path has no separator.
bool DirectoryOfPath(const char* path, std::string* directory);

// "<directory><separator><name>" when it fits in `limit` - 1 characters, so
// that it can be copied into a buffer of `limit` bytes. False otherwise.
bool ComposePath(const std::string& directory, const char* name, std::size_t limit, std::string* path);

// The directory of the host program's executable (GetModuleFileNameA with no
// module handle: the program that loaded the library, not the library),
// read into a buffer of `limit` bytes. False when the path is unknown, does
// not fit, or has no separator.
bool HostExecutableDirectory(std::size_t limit, std::string* directory);

// True when the exact path names an existing file (a find-first-file query,
// closed at once).
bool PathExists(const char* path);

}  // namespace kavex::config
