// Placeholder: the 'manifest' command arrives with its subsystem.
#include <cstdio>

#include "tools/commands.h"

namespace pelmo::tools {

int RunManifestCommand(const Args&) {
    std::fputs("pelmo-tool manifest: not available in this build\n", stderr);
    return 2;
}

}  // namespace pelmo::tools
