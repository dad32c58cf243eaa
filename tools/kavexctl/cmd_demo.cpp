#include <cstdio>

#include "kavexctl/commands.h"

namespace kavexctl {

int RunDemo(int, char**) {
    std::fprintf(stderr, "kavexctl demo: not available in this build\n");
    return kExitUnavailable;
}

}  // namespace kavexctl
