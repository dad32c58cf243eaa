// Windows drive paths on this system, and the parts of the native paths
// the layer hands to the system.
//
// "C:\dir\file" (with either separator) is $KAVEX_PREFIX/drive_c/dir/file;
// another drive letter X is $KAVEX_PREFIX/dosdevices/x: (a link an installer
// can make, as Wine keeps its drives). Every other path is used as it is.
#pragma once

#include <string>

namespace kavex::posix {

// The path to hand to the system for a Win32 path (null gives "").
std::string NativePath(const char* path);

// The directory of a native path: everything before its last '/', "/" for
// a name in the root, "." for a name without a directory.
std::string DirectoryOf(const std::string& path);

// The last component of a native path: what follows its last '/'.
const char* FileNameOf(const char* path);

}  // namespace kavex::posix
