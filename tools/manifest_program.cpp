// pelmo-tool-manifest: the manifest command as a program of its own, run by
// 'pelmo-tool manifest' (see tools/sibling_program.h).
#include "tools/commands.h"

int main(int argc, char** argv) {
    return pelmo::tools::RunManifestCommand(pelmo::tools::Args(argv + 1, argv + argc));
}
