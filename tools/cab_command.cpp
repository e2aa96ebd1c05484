// Placeholder: the 'cab' command arrives with its subsystem.
#include <cstdio>

#include "tools/commands.h"

namespace pelmo::tools {

int RunCabCommand(const Args&) {
    std::fputs("pelmo-tool cab: not available in this build\n", stderr);
    return 2;
}

}  // namespace pelmo::tools
