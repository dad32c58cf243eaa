// The registry text file behind HKEY_LOCAL_MACHINE: REGEDIT4, as "regedit
// /E" writes it.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\QelCorp\Veridane]
//   "ExePath"="C:\\Program Files\\Veridane"
//   @="the key's default value"
//   "Count"=dword:0000000a
//   "Data"=hex:01,02,03
//
// Strings are the file's bytes (the ANSI code page) with \\ and \" escaped;
// hex(N): gives a value of type N, and a hex list may go on over lines that
// end in a backslash. "[-KEY]" deletes a key read before, and
// "name"=- a value. Lines starting with ';' are comments. Key and value
// names are compared without regard to ASCII case, as Windows compares them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kavex::posix {

struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // strings with their terminating NUL
};

struct RegistryKey {
    std::map<std::string, RegistryValue> values;  // by upper-case name; "" is the default value
};

// Keys by their full upper-case path ("HKEY_LOCAL_MACHINE\SOFTWARE\...").
using RegistryKeys = std::map<std::string, RegistryKey>;

// The keys of a registry text. False when the text is not a registry file
// (no REGEDIT4 header); a malformed line is skipped, as regedit skips it.
bool ParseRegistryText(const std::string& text, RegistryKeys* keys);

// The ASCII upper case of a key or value name.
std::string RegistryName(const std::string& name);

}  // namespace kavex::posix
