// The host program's executable path behind GetModuleFileNameA(NULL, ...).
#pragma once

namespace kavex::posix {

// Makes GetModuleFileNameA(NULL, ...) answer `path` instead of the real
// executable, so that a test can place the files that live beside the host
// program in a private directory. Null restores the real answer.
void OverrideModuleFileName(const char* path);

}  // namespace kavex::posix
