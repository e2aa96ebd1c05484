// pelmo-tool: the publisher's and installer's companion.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/commands.h"
#include "tools/sibling_program.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "usage: pelmo-tool COMMAND [ARGS...]\n"
        "  reg       read and write the settings store\n"
        "  cab       list, extract, test and create cabinets\n"
        "  pak       list, unpack and pack compound files\n"
        "  manifest  show what a client at a given version would download\n"
        "  publish   build a release from a folder of versions; 'publish check' tests one\n"
        "  key       make a signing key pair\n"
        "  sign      sign files (FILE.minisig beside each)\n"
        "  verify    check a file's signature\n"
        "  help [COMMAND]  this text, or a command's arguments\n"
        "  --version       the version\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pelmo::tools;
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::puts("pelmo-tool " PELMO_VERSION);
        return 0;
    }
    std::string command = argv[1];
    Args args(argv + 2, argv + argc);
    if (command == "help" && !args.empty()) {
        // help COMMAND: the command's own usage.
        command = args[0];
        args = {"--help"};
    } else if (command == "help" || command == "--help" || command == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (command == "reg") return RunRegCommand(args);
    if (command == "cab") return RunCabCommand(args);
    if (command == "pak") return RunPakCommand(args);
    if (command == "manifest") return RunSiblingProgram("pelmo-tool-manifest", args);
    if (command == "publish") return RunSiblingProgram("pelmo-tool-publish", args);
    if (command == "key") return RunKeyCommand(args);
    if (command == "sign") return RunSignCommand(args);
    if (command == "verify") return RunVerifyCommand(args);
    std::fprintf(stderr, "pelmo-tool: unknown command '%s'\n", command.c_str());
    PrintUsage(stderr);
    return 2;
}
