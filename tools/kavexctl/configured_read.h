// kavexctl read --config: the readers opened as a host opens them, from the
// port configuration file beside the running executable.
#pragma once

#include <string>

namespace kavexctl {

// Opens the readers with OpenCom(NULL), polls the primary reader with
// GetCardCode and each configured further reader with GetOtherCardCode,
// and prints each code with the reader it came from, until Ctrl-C or
// `count` codes (0: no limit). Closes with CloseCom. `chosenLibrary` is the
// library of --library ("" for the usual search). Returns an exit code.
int RunConfiguredRead(long count, const std::string& chosenLibrary);

}  // namespace kavexctl
