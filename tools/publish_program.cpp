// pelmo-tool-publish: the publish command as a program of its own, run by
// 'pelmo-tool publish' (see tools/sibling_program.h): 'publish check' fetches
// over the network, and signing brings its own library.
#include "tools/commands.h"
#include "tools/sibling_program.h"

int main(int argc, char** argv) {
    return pelmo::tools::SiblingProgramMain("pelmo-tool-publish", argc, argv,
                                            &pelmo::tools::RunPublishCommand);
}
