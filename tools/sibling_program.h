// Commands that need the network run as a program of their own, built beside
// pelmo-tool and installed in libexec/pelmo/, so that pelmo-tool itself loads
// no network or TLS libraries: the offline commands start as fast as a plain
// copy, and a publisher's build machine runs them without that code in the
// process.
#pragma once

#include "tools/commands.h"

namespace pelmo::tools {

// Replaces this process with `program` from pelmo-tool's own folder, else
// from the installed sibling folder (libexec/pelmo/), else from PATH, passing
// `args`. Answers only on failure, with exit status 2.
int RunSiblingProgram(const char* program, const Args& args);

// The main of a sibling program: answers --version with "program VERSION",
// turns "help" into "--help", and runs command with the other arguments.
int SiblingProgramMain(const char* program, int argc, char** argv,
                       int (*command)(const Args&));

}  // namespace pelmo::tools
