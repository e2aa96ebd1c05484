// pelmo-tool-publish: the publish command as a program of its own, run by
// 'pelmo-tool publish' (see tools/sibling_program.h): 'publish check' fetches
// over the network, and signing brings its own library.
#include "tools/commands.h"

int main(int argc, char** argv) {
    return pelmo::tools::RunPublishCommand(pelmo::tools::Args(argv + 1, argv + argc));
}
