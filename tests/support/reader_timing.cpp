#include "support/reader_timing.h"

#include <cstdio>
#include <cstdlib>

namespace kavex::test {

void AbortHungCall(const char* what, int limitMs) {
    std::fprintf(stderr, "FAILED: %s did not return within %d ms\n", what, limitMs);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace kavex::test
