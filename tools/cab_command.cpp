// pelmo-tool cab: list, extract, test and create cabinets.
#include <cstdio>

#include "tools/cab_tool.h"
#include "tools/commands.h"

namespace pelmo::tools {

namespace {

void PrintCabUsage(std::FILE* to) {
    std::fputs(
        "usage: pelmo-tool cab list CABINET\n"
        "       pelmo-tool cab extract [-d DIR] CABINET\n"
        "       pelmo-tool cab test CABINET\n"
        "       pelmo-tool cab create [--codec none|mszip|lzx:N|quantum:N] [--max-size BYTES]\n"
        "                             -o CABINET FILE|DIR...\n"
        "extract and test go on through the rest of the cabinet's set, found beside it.\n",
        to);
}

}  // namespace

int RunCabCommand(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintCabUsage(args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string& sub = args[0];
    const Args rest(args.begin() + 1, args.end());
    if (sub == "list") return cab_tool::RunList(rest);
    if (sub == "extract") return cab_tool::RunExtract(rest, true);
    if (sub == "test") return cab_tool::RunExtract(rest, false);
    if (sub == "create") return cab_tool::RunCreate(rest);
    std::fprintf(stderr, "pelmo-tool cab: unknown subcommand '%s'\n", sub.c_str());
    PrintCabUsage(stderr);
    return 2;
}

}  // namespace pelmo::tools
