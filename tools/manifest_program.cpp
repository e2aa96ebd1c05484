// pelmo-tool-manifest: the manifest command as a program of its own, run by
// 'pelmo-tool manifest' (see tools/sibling_program.h).
#include "tools/commands.h"
#include "tools/sibling_program.h"

int main(int argc, char** argv) {
    return pelmo::tools::SiblingProgramMain("pelmo-tool-manifest", argc, argv,
                                            &pelmo::tools::RunManifestCommand);
}
