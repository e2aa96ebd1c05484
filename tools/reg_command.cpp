// Placeholder: the 'reg' command arrives with its subsystem.
#include <cstdio>

#include "tools/commands.h"

namespace pelmo::tools {

int RunRegCommand(const Args&) {
    std::fputs("pelmo-tool reg: not available in this build\n", stderr);
    return 2;
}

}  // namespace pelmo::tools
