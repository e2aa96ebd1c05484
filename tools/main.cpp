// pelmo-tool: the publisher's and installer's companion.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/commands.h"
#include "tools/sibling_program.h"

namespace {

void PrintUsage() {
    std::fputs(
        "usage: pelmo-tool COMMAND [ARGS...]\n"
        "  reg       read and write the settings store\n"
        "  cab       list, extract, test and create cabinets\n"
        "  pak       list, unpack and pack compound files\n"
        "  manifest  show what a client at a given version would download\n"
        "  publish   build a release: packages plus manifest\n"
        "  key       make a signing key pair\n"
        "  sign      sign files (FILE.minisig beside each)\n"
        "  verify    check a file's signature\n"
        "Run 'pelmo-tool COMMAND --help' for a command's arguments.\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pelmo::tools;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    const Args args(argv + 2, argv + argc);
    if (command == "reg") return RunRegCommand(args);
    if (command == "cab") return RunCabCommand(args);
    if (command == "pak") return RunPakCommand(args);
    if (command == "manifest") return RunSiblingProgram("pelmo-tool-manifest", args);
    if (command == "publish") return RunSiblingProgram("pelmo-tool-publish", args);
    if (command == "key") return RunKeyCommand(args);
    if (command == "sign") return RunSignCommand(args);
    if (command == "verify") return RunVerifyCommand(args);
    std::fprintf(stderr, "pelmo-tool: unknown command '%s'\n", command.c_str());
    PrintUsage();
    return 2;
}
