#include <cstdio>

#include "kavexctl/commands.h"

namespace kavexctl {

int RunRead(int, char**) {
    std::fprintf(stderr, "kavexctl read: not available in this build\n");
    return kExitUnavailable;
}

}  // namespace kavexctl
