#include "ui/console_view.h"

#include <cstdio>

#include "recording_view.h"
#include "settings/client_settings.h"
#include "tests/support/wait_until.h"
#include "ui/upgrade_dialog.h"

namespace pelmo::ui {
namespace {

using testing::PrivateEnvironment;

// Everything a console run printed, and its exit status.
struct ConsoleRun {
    std::string output;
    int status = -1;
};

ConsoleRun RunConsole(UpgradeSteps steps, bool terminal, bool startedByClient = false) {
    std::FILE* out = std::tmpfile();
    ConsoleRun run;
    {
        ConsoleView view(out, terminal);
        auto engine = std::make_shared<UpgradeEngine>(std::move(steps));
        UpgradeDialog dialog(view, engine, startedByClient);
        run.status = view.RunModal(dialog);
    }
    std::rewind(out);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) run.output.append(buffer, n);
    std::fclose(out);
    return run;
}

UpgradeSteps Answering(int fetch, int newer, int download, int install, int launch) {
    UpgradeSteps steps;
    steps.fetchManifest = [=](UpgradeEngine& e) {
        e.totalDownloadBytes = 2048;
        return fetch;
    };
    steps.hasNewerVersion = [=](UpgradeEngine&) { return newer; };
    steps.downloadPackages = [=](UpgradeEngine& e) {
        e.currentPackageBytes = 1024;
        e.notifyWindow.ShowDownloadProgress(512, 1024, 1024, 0);
        e.notifyWindow.ShowDownloadProgress(1024, 1024, 1024, 0);
        return download;
    };
    steps.isClientRunning = [](UpgradeEngine&) { return 0; };
    steps.installPackages = [=](UpgradeEngine&) { return install; };
    steps.launchClient = [=](UpgradeEngine&) { return launch; };
    return steps;
}

class ConsoleViewTest : public ::testing::Test {
  protected:
    void SetUp() override { ClientSettings::WriteInstalledVersion(2003); }
    PrivateEnvironment environment;
};

TEST_F(ConsoleViewTest, CompleteRunPrintsEveryStepAndExitsWithZero) {
    const ConsoleRun run = RunConsole(Answering(1, 1, 1, 1, 1), false);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              "Pelmo升级程序\n"
              "升级Pelmo程序进度...\n"
              "当前版本: 2.003\n"
              "==> 1.下载升级配置文件\n"
              "升级进度:10%\n"
              "==> 2.检查当前版本\n"
              "升级进度:15%\n"
              "==> 3.下载升级包文件\n"
              "正在下载文件,请等待...,升级进度:20%\n"
              "3.下载升级包文件 ( 0.5k / 共2.0k )\n"
              "3.下载升级包文件 ( 1.0k / 共2.0k )\n"
              "==> 4.升级当前版本\n"
              "升级进度:60%\n"
              "==> 5.升级完成,重新启动Pelmo\n"
              "升级进度:90%\n"
              "升级进度:100%\n");
}

TEST_F(ConsoleViewTest, FailurePrintsItsMessageBoxAndExitsWithOne) {
    const ConsoleRun run = RunConsole(Answering(1, 1, 0, 1, 1), false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("[Pelmo] 下载升级包文件失败,请检查网络连接!\n"), std::string::npos);
    EXPECT_EQ(run.output.find("==> 4."), std::string::npos);
}

TEST_F(ConsoleViewTest, NoNewVersionExitsWithOne) {
    const ConsoleRun run = RunConsole(Answering(1, 0, 1, 1, 1), false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("没有新版本,请退出\n[Pelmo] 没有新版本,请退出!\n"),
              std::string::npos);
    // The auto-check choice was written at the close.
    EXPECT_FALSE(ClientSettings::ReadAutoCheck());
}

TEST_F(ConsoleViewTest, RunEndingWithoutNotificationStillCloses) {
    UpgradeSteps steps = Answering(1, 1, 1, 1, 1);
    steps.hasNewerVersion = [](UpgradeEngine&) -> int { throw std::runtime_error("lost"); };
    const ConsoleRun run = RunConsole(std::move(steps), false);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.find("[Pelmo]"), std::string::npos);
}

TEST_F(ConsoleViewTest, OnATerminalTheDownloadTextIsRedrawnInPlace) {
    const ConsoleRun run = RunConsole(Answering(1, 1, 1, 1, 1), true);
    EXPECT_NE(run.output.find("\r3.下载升级包文件 ( 0.5k / 共2.0k )\x1b[K"
                              "\r3.下载升级包文件 ( 1.0k / 共2.0k )\x1b[K\n==> 4.升级当前版本\n"),
              std::string::npos);
}

TEST_F(ConsoleViewTest, CancelRequestTakesTheClosePath) {
    UpgradeSteps steps = Answering(1, 1, 1, 1, 1);
    steps.fetchManifest = [](UpgradeEngine& e) {
        ConsoleView::RequestCancel();  // as SIGINT would
        pelmo::testing::WaitUntil([&e] { return e.cancelRequested != 0; }, std::chrono::seconds(5));
        return 1;
    };
    const ConsoleRun run = RunConsole(std::move(steps), false);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.find("==> 2."), std::string::npos);
}

}  // namespace
}  // namespace pelmo::ui
