// Placeholder: the 'publish' command arrives with its subsystem.
#include <cstdio>

#include "tools/commands.h"

namespace pelmo::tools {

int RunPublishCommand(const Args&) {
    std::fputs("pelmo-tool publish: not available in this build\n", stderr);
    return 2;
}

}  // namespace pelmo::tools
