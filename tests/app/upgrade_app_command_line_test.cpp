#include <gtest/gtest.h>

#include "app/instance_checker.h"
#include "app/process_state.h"
#include "app/upgrade_app.h"
#include "app_test_support.h"

namespace pelmo {
namespace {

using testing::PrivateEnvironment;

const char* const PROGRAM = "\"C:\\Program Files\\Pelmo\\PelmoUpgrade.exe\"";

std::string WithTail(const std::string& tail) { return std::string(PROGRAM) + tail; }

TEST(CommandLineRule, TheWordAfterTheLastHyphenInAnyCase) {
    EXPECT_TRUE(IsStartedByClient(WithTail(" -PELMORUN")));
    EXPECT_TRUE(IsStartedByClient(WithTail(" -pelmorun")));
    EXPECT_TRUE(IsStartedByClient(WithTail(" -PelmoRun")));
    EXPECT_TRUE(IsStartedByClient(WithTail(" --PELMORUN")));  // the text after the last '-'
    EXPECT_TRUE(IsStartedByClient("/opt/pelmo/pelmo-upgrader --console -PELMORUN"));
    // No hyphen at all: the whole line is compared.
    EXPECT_TRUE(IsStartedByClient("pelmorun"));
}

TEST(CommandLineRule, AnythingElseLeavesItUnset) {
    EXPECT_FALSE(IsStartedByClient(WithTail(" -PELMORUN ")));  // not trimmed
    EXPECT_FALSE(IsStartedByClient(WithTail(" -PELMORUN -x")));
    EXPECT_FALSE(IsStartedByClient(WithTail(" /PELMORUN")));
    EXPECT_FALSE(IsStartedByClient(WithTail(" -PELMORUNX")));
    EXPECT_FALSE(IsStartedByClient(WithTail("")));
    // A program path with a hyphen and no argument: the path's tail is compared.
    EXPECT_FALSE(IsStartedByClient("/usr/bin/pelmo-upgrader"));
    EXPECT_FALSE(IsStartedByClient(""));
    EXPECT_FALSE(IsStartedByClient("-"));
}

TEST(CommandLineRule, ArgumentsJoinedBySingleBlanks) {
    const char* argv[] = {"/opt/pelmo/pelmo-upgrader", "--console", "-PELMORUN"};
    EXPECT_EQ(JoinCommandLine(3, argv), "/opt/pelmo/pelmo-upgrader --console -PELMORUN");
    EXPECT_TRUE(IsStartedByClient(JoinCommandLine(3, argv)));
    // An empty last argument makes a trailing blank: no longer the word.
    const char* trailing[] = {"/opt/pelmo/pelmo-upgrader", "-PELMORUN", ""};
    EXPECT_FALSE(IsStartedByClient(JoinCommandLine(3, trailing)));
    EXPECT_EQ(JoinCommandLine(1, argv), "/opt/pelmo/pelmo-upgrader");
}

TEST(ModulePath, RunningProgramCutTo260Characters) {
    EXPECT_EQ(RunningProgramPath(), std::filesystem::read_symlink("/proc/self/exe").string());
    const std::string longPath = "/" + std::string(300, 'a');
    EXPECT_EQ(CutModulePath(longPath), longPath.substr(0, 260));
    EXPECT_EQ(CutModulePath("/short"), "/short");
}

class UpgradeAppTest : public ::testing::Test {
  protected:
    void TearDown() override { ProcessInstanceChecker().ReleaseGuard(); }
    PrivateEnvironment environment;
};

TEST_F(UpgradeAppTest, StartUpFillsTheProcessStateThenRunsTheDialog) {
    Process().startedByClient = 1;
    Process().modulePath.clear();
    UpgradeApp app;
    int runs = 0;
    int32_t flagDuringRun = -1;
    EXPECT_FALSE(app.InitInstance("/opt/pelmo/pelmo-upgrader", [&] {
        ++runs;
        flagDuringRun = Process().startedByClient;
        // The guard is held while the dialog shows.
        CInstanceChecker other;
        EXPECT_TRUE(other.IsAnotherInstanceRunning());
    }));
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(app.dialogShown());
    EXPECT_EQ(flagDuringRun, 0);
    EXPECT_EQ(Process().modulePath, RunningProgramPath());

    ProcessInstanceChecker().ReleaseGuard();
    EXPECT_FALSE(
        app.InitInstance("x -PELMORUN", [&] { flagDuringRun = Process().startedByClient; }));
    EXPECT_EQ(flagDuringRun, 1);
}

TEST_F(UpgradeAppTest, AnotherUpgraderRunningEndsAtOnceWithoutTheDialog) {
    CInstanceChecker first;
    ASSERT_FALSE(first.IsAnotherInstanceRunning());
    UpgradeApp app;
    Process().startedByClient = 1;
    bool shown = false;
    EXPECT_FALSE(app.InitInstance("pelmo-upgrader -PELMORUN", [&] { shown = true; }));
    EXPECT_FALSE(shown);
    EXPECT_FALSE(app.dialogShown());
    EXPECT_EQ(Process().startedByClient, 0);  // cleared before the guard was asked

    // Once the first gives up its guard (it started the client), a new one runs.
    first.ReleaseGuard();
    EXPECT_FALSE(app.InitInstance("pelmo-upgrader", [&] { shown = true; }));
    EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace pelmo
