// pelmo-upgrader as a program: a second start while one runs, console runs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "app_test_support.h"
#include "platform/registry_store.h"
#include "settings/client_settings.h"
#include "upgrade_app_process.h"

namespace pelmo {
namespace {

using namespace testing::program;

class UpgraderProgramTest : public ::testing::Test {
  protected:
    std::map<std::string, std::string> Env() const {
        return {{"PELMO_REGISTRY", environment.folder() + "/registry.db"},
                {"XDG_RUNTIME_DIR", environment.folder()},
                {"TMPDIR", environment.folder()}};
    }
    std::string Out(const std::string& name) const { return environment.folder() + "/" + name; }
    PrivateEnvironment environment;
};

TEST_F(UpgraderProgramTest, WithoutAnyManifestTheConsoleRunFailsAtStepOne) {
    ClientSettings::WriteInstalledVersion(2003);
    ProgramRun run({UpgraderPath(), "--console"}, Env(), Out("run.txt"));
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_EQ(run.Output(),
              "Pelmo升级程序\n升级Pelmo程序进度...\n当前版本: 2.003\n==> 1.下载升级配置文件\n"
              "升级进度:10%\n[Pelmo] 下载升级配置文件失败,请检查网络连接!\n"
              "  no manifest address is set\n");
}

TEST_F(UpgraderProgramTest, NoDisplayMeansTheConsole) {
    // DISPLAY and WAYLAND_DISPLAY are removed from the child's environment.
    ProgramRun run({UpgraderPath()}, Env(), Out("run.txt"));
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_NE(run.Output().find("[Pelmo] 下载升级配置文件失败"), std::string::npos);
}

TEST_F(UpgraderProgramTest, SecondUpgraderEndsAtOnceWithoutAnyOutputWhileTheFirstRuns) {
    ProgramRun first({UpgraderPath(), "--console"}, Env(), Out("first.txt"));
    // The title comes after the guard was taken; hold the first right there.
    ASSERT_TRUE(first.WaitForOutput("Pelmo升级程序"));
    ASSERT_EQ(kill(first.pid(), SIGSTOP), 0) << first.pid() << " " << std::strerror(errno) << "\n"
                                             << first.Output();

    ProgramRun second({UpgraderPath(), "--console"}, Env(), Out("second.txt"));
    const int secondStatus = second.Wait(std::chrono::seconds(10));
    kill(first.pid(), SIGCONT);
    EXPECT_EQ(secondStatus, 2);
    EXPECT_EQ(second.Output(), "pelmo-upgrader: another upgrader is already running\n");
    EXPECT_EQ(first.Wait(), 1);

    // With the first gone, a new upgrader runs normally.
    ProgramRun third({UpgraderPath(), "--console"}, Env(), Out("third.txt"));
    EXPECT_EQ(third.Wait(), 1);
    EXPECT_NE(third.Output().find("Pelmo升级程序"), std::string::npos);
}

// A guard that exists but cannot be used says why, on every run.
TEST_F(UpgraderProgramTest, AnUnusableGuardFileIsNamedWithTheReason) {
    const std::string guard = environment.folder() + "/PELMOUPGRADE_CInstanceChecker_MMF_";
    std::filesystem::create_directories(guard);
    ProgramRun run({UpgraderPath(), "--console"}, Env(), Out("run.txt"));
    EXPECT_EQ(run.Wait(), 2);
    EXPECT_EQ(run.Output(),
              "pelmo-upgrader: cannot take the instance guard " + guard + ": Is a directory\n");
}

TEST_F(UpgraderProgramTest, HelpAndVersionTouchNeitherSettingsNorGuard) {
    ProgramRun help({UpgraderPath(), "--help"}, Env(), Out("help.txt"));
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_EQ(help.Output().rfind("usage: pelmo-upgrader [--console] [-PELMORUN]\n", 0), 0u)
        << help.Output();
    ProgramRun version({UpgraderPath(), "--version"}, Env(), Out("version.txt"));
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.Output(), std::string("pelmo-upgrader ") + PELMO_VERSION + "\n");
    EXPECT_FALSE(std::filesystem::exists(environment.folder() + "/registry.db"));
    EXPECT_FALSE(std::filesystem::exists(environment.folder() +
                                         "/PELMOUPGRADE_CInstanceChecker_MMF_"));
}

TEST_F(UpgraderProgramTest, ADisplayThatCannotBeOpenedMeansTheConsole) {
    auto env = Env();
    env["DISPLAY"] = ":97";  // no server there
    env["QT_QPA_PLATFORM"] = "xcb";
    ProgramRun run({UpgraderPath()}, env, Out("run.txt"));
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_NE(run.Output().find("[Pelmo] 下载升级配置文件失败"), std::string::npos) << run.Output();
}

// The client folder with a pelmo.exe that notes its start in started.txt.
std::string MakeClient(const std::string& folder) {
    const std::string client = folder + "/client";
    std::filesystem::create_directories(client);
    {
        std::ofstream program(client + "/pelmo.exe");
        program << "#!/bin/sh\necho started > \"$(dirname \"$0\")/started.txt\"\n";
    }
    std::filesystem::permissions(client + "/pelmo.exe", std::filesystem::perms::owner_all);
    platform::RegistryKey key;
    EXPECT_TRUE(key.OpenForWrite(folder + "/registry.db", "SOFTWARE\\TAVRIN\\PELMO"));
    const std::string exePath = client + "/pelmo.exe";
    EXPECT_TRUE(key.SetValue("EXEPATH", platform::REG_SZ, exePath.c_str(),
                             static_cast<uint32_t>(exePath.size() + 1)));
    return client;
}

// A reader that went away does not end the run: the close path still saves
// the auto-check setting and starts the client again.
TEST_F(UpgraderProgramTest, AClosedOutputStillTakesTheClosePath) {
    const std::string client = MakeClient(environment.folder());
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    ProgramRun run({UpgraderPath(), "--console", "-PELMORUN"}, Env(), Out("run.txt"), ends[1]);
    close(ends[1]);
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_TRUE(
        testing::WaitUntil([&client] { return std::filesystem::exists(client + "/started.txt"); },
                           std::chrono::seconds(5)));
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(environment.folder() + "/registry.db", "SOFTWARE\\TAVRIN\\PELMO"));
    uint32_t type = 0, value = 7, size = sizeof value;
    EXPECT_TRUE(key.QueryValue("UPGRADEAUTORUN", &type, &value, &size));
    EXPECT_EQ(value, 0u);

    // No output at all: no file opened later takes the output's place.
    ProgramRun closed({UpgraderPath(), "--console"}, Env(), Out("closed.txt"),
                      testing::program::CLOSED_OUTPUT);
    EXPECT_EQ(closed.Wait(), 1);
    EXPECT_EQ(testing::ReadWholeFile(environment.folder() + "/PELMOUPGRADE_CInstanceChecker_MMF_"),
              std::string("PELMOUPGRADE_CInstanceChecker_MMF_", 35));
}

TEST_F(UpgraderProgramTest, StartedByTheClientAFailedRunStartsTheClientAgain) {
    const std::string client = MakeClient(environment.folder());

    ProgramRun byHand({UpgraderPath(), "--console"}, Env(), Out("hand.txt"));
    EXPECT_EQ(byHand.Wait(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(client + "/started.txt"));

    ProgramRun byClient({UpgraderPath(), "--console", "-PELMORUN"}, Env(), Out("client.txt"));
    EXPECT_EQ(byClient.Wait(), 1);
    EXPECT_TRUE(
        testing::WaitUntil([&client] { return std::filesystem::exists(client + "/started.txt"); },
                           std::chrono::seconds(5)));
}

}  // namespace
}  // namespace pelmo
