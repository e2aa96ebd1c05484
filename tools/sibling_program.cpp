#include "tools/sibling_program.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace pelmo::tools {

namespace {

// Where the installed siblings lie, seen from pelmo-tool's own folder.
#ifndef PELMO_SIBLING_FOLDER
#define PELMO_SIBLING_FOLDER "../libexec/pelmo/"
#endif

// The folder this program was started from, with a trailing "/"; empty when
// it cannot be told.
std::string OwnFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    const std::string self(path, static_cast<size_t>(length));
    const size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

}  // namespace

int RunSiblingProgram(const char* program, const Args& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const std::string folder = OwnFolder();
    if (!folder.empty()) {
        // Beside pelmo-tool in a build folder; in libexec/pelmo/ once installed.
        for (const std::string& candidate :
             {folder + program, folder + PELMO_SIBLING_FOLDER + program}) {
            ::execv(candidate.c_str(), argv.data());
            if (errno != ENOENT) {
                std::fprintf(stderr, "pelmo-tool: cannot run %s: %s\n", candidate.c_str(),
                             std::strerror(errno));
                return 2;
            }
        }
    }
    // Installed elsewhere than this program: look it up as the shell would.
    ::execvp(program, argv.data());
    std::fprintf(stderr, "pelmo-tool: cannot run %s: %s\n", program, std::strerror(errno));
    return 2;
}

int SiblingProgramMain(const char* program, int argc, char** argv,
                       int (*command)(const Args&)) {
    Args args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("%s %s\n", program, PELMO_VERSION);
        return 0;
    }
    if (args.size() == 1 && args[0] == "help") args[0] = "--help";
    return command(args);
}

}  // namespace pelmo::tools
