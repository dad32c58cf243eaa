#include <cstdio>

#include "kavexctl/commands.h"

namespace kavexctl {

int RunSimulate(int, char**) {
    std::fprintf(stderr, "kavexctl simulate: not available in this build\n");
    return kExitUnavailable;
}

}  // namespace kavexctl
