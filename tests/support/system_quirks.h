// What the system under the tests does differently from Windows, so that the
// tests that meet it skip with the reason instead of failing. Natively (the
// POSIX layer) every answer is "as Windows".
#pragma once

#include <string>

namespace kavex::test {

// True when the Windows programs run under Wine.
bool RunningUnderWine();

// False when a file marked read-only in `directory` can still be opened for
// writing (Wine running as root does not enforce the attribute).
bool ReadOnlyAttributeIsEnforced(const std::string& directory);

}  // namespace kavex::test
