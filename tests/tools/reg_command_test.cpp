// pelmo-tool reg, run as a real program on a real store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "settings/client_settings.h"
#include "tests/support/scratch_folder.h"

extern char** environ;

namespace pelmo {
namespace {

struct Result {
    int status = -1;
    std::string out;
};

// The program's output, and with withErrors its error output too.
Result RunTool(std::vector<std::string> args, bool withErrors = false) {
    args.insert(args.begin(), {PELMO_BINARY_DIR "/tools/pelmo-tool", "reg"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (withErrors) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid;
    Result result;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return result;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class RegCommandTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("PELMO_REGISTRY", (folder_ + "/new/registry.db").c_str(), 1); }
    pelmo::testing::ScratchFolder scratch_;
    std::string folder_ = scratch_.path();
};

TEST_F(RegCommandTest, SetThenGetOnANewStore) {
    EXPECT_EQ(RunTool({"get", "VERSION"}).status, 1);
    EXPECT_EQ(RunTool({"set", "VERSION", "dword", "2005"}).status, 0);
    const Result got = RunTool({"get", "VERSION"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "2005\n");
    EXPECT_EQ(RunTool({"get", "EXEPATH"}).status, 1);
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2005) << "the upgrader reads what it wrote";
}

TEST_F(RegCommandTest, TextsNumbersAndTheirForms) {
    EXPECT_EQ(RunTool({"set", "EXEPATH", "sz", "/opt/pelmo client/pelmo.exe"}).status, 0);
    EXPECT_EQ(RunTool({"set", "UPGRADECFGFILE", "sz", " http://127.0.0.1:8080/v.xml "}).status, 0);
    EXPECT_EQ(RunTool({"set", "version", "dword", "-5"}).status, 0);
    EXPECT_EQ(RunTool({"set", "UPGRADEAUTORUN", "dword", "0x1"}).status, 0);
    EXPECT_EQ(RunTool({"get", "exepath"}).out, "/opt/pelmo client/pelmo.exe\n");
    EXPECT_EQ(RunTool({"get", "VERSION"}).out, "-5\n");
    EXPECT_EQ(ClientSettings::ReadClientFolder(), "/opt/pelmo client");
    EXPECT_EQ(ClientSettings::ReadManifestAddress(), "http://127.0.0.1:8080/v.xml");
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), -5);
    EXPECT_TRUE(ClientSettings::ReadAutoCheck());

    for (const char* bad : {"", "12x", "4294967296", "-2147483649", "abc"}) {
        EXPECT_EQ(RunTool({"set", "VERSION", "dword", bad}).status, 2) << bad;
    }
    EXPECT_EQ(RunTool({"set", "VERSION", "qword", "1"}).status, 2);
    EXPECT_EQ(RunTool({"get", "VERSION"}).out, "-5\n") << "unchanged by refused sets";
}

TEST_F(RegCommandTest, ListDeleteAndOtherKeys) {
    EXPECT_EQ(RunTool({"list"}).out, "") << "no store: nothing listed";
    RunTool({"set", "VERSION", "dword", "2010"});
    RunTool({"set", "EXEPATH", "sz", "/opt/p/pelmo.exe"});
    RunTool({"--key", "SOFTWARE\\Other", "set", "VERSION", "dword", "7"});
    EXPECT_EQ(RunTool({"list"}).out, "VERSION dword 2010\nEXEPATH sz /opt/p/pelmo.exe\n");
    EXPECT_EQ(RunTool({"list", "--key", "software\\other"}).out, "VERSION dword 7\n");

    EXPECT_EQ(RunTool({"delete", "version"}).status, 0);
    EXPECT_EQ(RunTool({"delete", "VERSION"}).status, 1);
    EXPECT_EQ(RunTool({"get", "VERSION"}).status, 1);
    EXPECT_EQ(RunTool({"--key", "SOFTWARE\\Other", "get", "VERSION"}).out, "7\n");
}

// A file that is not a settings store is named as such, never read as an
// empty store nor written into; a store that cannot be written says why.
TEST_F(RegCommandTest, FilesThatAreNotStoresAndFailedWritesSayWhy) {
    const std::string text = folder_ + "/notes.txt";
    std::FILE* file = std::fopen(text.c_str(), "w");
    std::fputs("not a database at all, just some words of text\n", file);
    std::fclose(file);
    setenv("PELMO_REGISTRY", text.c_str(), 1);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"get", "VERSION"}, {"list"}, {"set", "VERSION", "dword", "1"}}) {
        const Result run = RunTool(args, true);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find(text + ": not a settings store"), std::string::npos) << run.out;
    }
    setenv("PELMO_REGISTRY", (text + "/registry.db").c_str(), 1);
    const Result blocked = RunTool({"set", "VERSION", "dword", "1"}, true);
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.out.find("registry.db: Not a directory"), std::string::npos) << blocked.out;
}

TEST_F(RegCommandTest, UsageErrors) {
    EXPECT_EQ(RunTool({}).status, 2);
    EXPECT_EQ(RunTool({"get"}).status, 2);
    EXPECT_EQ(RunTool({"frobnicate"}).status, 2);
    EXPECT_EQ(RunTool({"get", "VERSION", "--key"}).status, 2);
    EXPECT_EQ(RunTool({"--help"}).status, 0);
}

}  // namespace
}  // namespace pelmo
