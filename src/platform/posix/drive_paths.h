// Windows drive paths on this system.
//
// "C:\dir\file" (with either separator) is $KAVEX_PREFIX/drive_c/dir/file;
// another drive letter X is $KAVEX_PREFIX/dosdevices/x: (a link an installer
// can make, as Wine keeps its drives). Every other path is used as it is.
#pragma once

#include <string>

namespace kavex::posix {

// The path to hand to the system for a Win32 path (null gives "").
std::string NativePath(const char* path);

}  // namespace kavex::posix
