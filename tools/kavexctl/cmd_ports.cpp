#include <cstdio>

#include "kavexctl/commands.h"

namespace kavexctl {

int RunPorts(int, char**) {
    std::fprintf(stderr, "kavexctl ports: not available in this build\n");
    return kExitUnavailable;
}

}  // namespace kavexctl
