// pelmo-tool-manifest: the manifest command as a program of its own, run by
// 'pelmo-tool manifest' (see tools/sibling_program.h).
#include <cstdio>
#include <string>

#include "tools/commands.h"

int main(int argc, char** argv) {
    pelmo::tools::Args args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::puts("pelmo-tool-manifest " PELMO_VERSION);
        return 0;
    }
    if (args.size() == 1 && args[0] == "help") args[0] = "--help";
    return pelmo::tools::RunManifestCommand(args);
}
