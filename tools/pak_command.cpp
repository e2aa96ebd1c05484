// Placeholder: the 'pak' command arrives with its subsystem.
#include <cstdio>

#include "tools/commands.h"

namespace pelmo::tools {

int RunPakCommand(const Args&) {
    std::fputs("pelmo-tool pak: not available in this build\n", stderr);
    return 2;
}

}  // namespace pelmo::tools
