// What every program of the companion answers before it does any work:
// its version, and help that lists only what is built.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/shell_command.h"

namespace {

struct Answer {
    int status = -1;
    std::string out;
};

// What program prints on standard output for arguments, and its exit status.
Answer Ask(const std::string& program, const std::string& arguments) {
    const pelmo::testing::ShellOutcome outcome = pelmo::testing::RunShell(
        "{ " + std::string(PELMO_BINARY_DIR) + "/tools/" + program + " " + arguments +
        " 2>/dev/null; }");
    return {outcome.status, outcome.output};
}

TEST(FrontDoor, VersionAndHelpForEveryProgram) {
    for (const std::string program : {"pelmo-tool", "pelmo-tool-manifest", "pelmo-tool-publish"}) {
        const Answer version = Ask(program, "--version");
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_EQ(version.out, program + " " + PELMO_VERSION + "\n");
        const Answer help = Ask(program, "help");
        EXPECT_EQ(help.status, 0) << program;
        EXPECT_EQ(help.out.rfind("usage: pelmo-tool", 0), 0u) << help.out;
    }
    const Answer help = Ask("pelmo-tool", "help");
    for (const std::string command : {"reg", "cab", "pak", "manifest", "publish", "key", "sign", "verify"}) {
        EXPECT_NE(help.out.find("  " + command + " "), std::string::npos) << command;
        const Answer own = Ask("pelmo-tool", "help " + command);
        EXPECT_EQ(own.status, 0) << command;
        EXPECT_NE(own.out.find("usage: pelmo-tool " + command), std::string::npos) << own.out;
    }
}

}  // namespace
