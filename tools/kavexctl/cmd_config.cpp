#include <cstdio>

#include "kavexctl/commands.h"

namespace kavexctl {

int RunConfig(int, char**) {
    std::fprintf(stderr, "kavexctl config: not available in this build\n");
    return kExitUnavailable;
}

}  // namespace kavexctl
