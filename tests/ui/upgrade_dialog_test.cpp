#include "ui/upgrade_dialog.h"

#include <atomic>

#include "platform/registry_store.h"
#include "recording_view.h"
#include "settings/client_settings.h"
#include "tests/support/wait_until.h"

namespace pelmo::ui {
namespace {

using testing::Gate;
using testing::PrivateEnvironment;
using testing::RecordingView;

// Steps that answer as told and count the client starts.
struct Script {
    int fetch = 1, newer = 1, download = 1, clientRunning = 0, install = 1, launch = 1;
    std::atomic<int> fetchCalls{0};
    std::atomic<int> launchCalls{0};
    std::function<void(UpgradeEngine&)> duringFetch;
    std::function<void(UpgradeEngine&)> duringDownload;

    UpgradeSteps Steps() {
        UpgradeSteps steps;
        steps.fetchManifest = [this](UpgradeEngine& e) {
            ++fetchCalls;
            if (duringFetch) duringFetch(e);
            return fetch;
        };
        steps.hasNewerVersion = [this](UpgradeEngine&) { return newer; };
        steps.downloadPackages = [this](UpgradeEngine& e) {
            if (duringDownload) duringDownload(e);
            return download;
        };
        steps.isClientRunning = [this](UpgradeEngine&) { return clientRunning; };
        steps.installPackages = [this](UpgradeEngine&) { return install; };
        steps.launchClient = [this](UpgradeEngine&) {
            ++launchCalls;
            return launch;
        };
        return steps;
    }
};

class UpgradeDialogTest : public ::testing::Test {
  protected:
    // Opens the dialog (which starts a run) and waits for the run's end,
    // handling every notification on the way.
    void OpenAndRun(bool startedByClient = false) {
        Open(startedByClient);
        ASSERT_TRUE(view.DispatchUntil([this] { return !dialog->RunUnderway(); }));
        view.DispatchQueued();
    }
    void Open(bool startedByClient = false) {
        engine = std::make_shared<UpgradeEngine>(script.Steps());
        dialog = std::make_unique<UpgradeDialog>(view, engine, startedByClient);
        EXPECT_TRUE(dialog->OnInitDialog());
    }
    void TearDown() override {
        if (dialog && !dialog->closed()) dialog->OnCancel();
    }

    PrivateEnvironment environment;
    Script script;
    RecordingView view;
    std::shared_ptr<UpgradeEngine> engine;
    std::unique_ptr<UpgradeDialog> dialog;
};

TEST_F(UpgradeDialogTest, OpeningFillsTheWindowAndStartsARunAtOnce) {
    ClientSettings::WriteInstalledVersion(2010);
    ClientSettings::WriteAutoCheck(true);
    Gate gate;
    script.duringFetch = [&](UpgradeEngine& e) {
        gate.Pass([&] { return e.cancelRequested != 0; });
    };
    Open();

    EXPECT_EQ(view.title, "Pelmo升级程序");
    EXPECT_EQ(view.texts[IDC_MESSAGE], "升级Pelmo程序进度...");
    EXPECT_EQ(view.texts[IDC_VERSION], "当前版本: 2.010");
    EXPECT_EQ(dialog->versionText(), "当前版本: 2.010");
    EXPECT_EQ(view.rangeLow, 0);
    EXPECT_EQ(view.rangeHigh, 100);
    EXPECT_TRUE(view.checked);
    // The run: position 0, Upgrade disabled, a full redraw, no click needed.
    EXPECT_EQ(view.position, 0);
    EXPECT_FALSE(view.upgradeEnabled);
    EXPECT_NE(std::find(view.calls.begin(), view.calls.end(), "invalidate erase"),
              view.calls.end());
    EXPECT_TRUE(gate.WaitReached());
    EXPECT_TRUE(dialog->RunUnderway());
    // The version line is sent to the control before and after the run starts,
    // empty the first time.
    EXPECT_EQ(view.calls.front(), "title");
    EXPECT_EQ(view.calls.back(), "text 1001");
    EXPECT_EQ(dialog->currentStep(), 0);
    gate.Open();
}

TEST_F(UpgradeDialogTest, VersionDisplayRuleOnTheVersionLine) {
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {2010, "2.010"}, {7, "7."}, {0, "0."}, {12345, "1.2345"}, {-5, "-.5"}};
    for (const auto& [version, shown] : cases) {
        ClientSettings::WriteInstalledVersion(version);
        RecordingView view;
        auto engine = std::make_shared<UpgradeEngine>(UpgradeSteps{});
        UpgradeDialog dialog(view, engine, false);
        dialog.OnInitDialog();
        EXPECT_EQ(view.texts[IDC_VERSION], "当前版本: " + shown) << version;
        dialog.OnCancel();
    }
}

TEST_F(UpgradeDialogTest, AbsentVersionShowsZero) {
    script.fetch = 0;
    OpenAndRun();
    EXPECT_EQ(view.texts[IDC_VERSION], "当前版本: 0.");
}

// One reaction: the state the notification leaves, from a run stopped at
// step 3 (position 20, label 1006).
struct Reaction {
    int code;
    int position;
    int step;
    std::string message;
    std::string box;  // "" for none
};

void PrintTo(const Reaction& r, std::ostream* os) { *os << r.code; }

class UpgradeDialogReactions : public UpgradeDialogTest,
                               public ::testing::WithParamInterface<Reaction> {};

TEST_P(UpgradeDialogReactions, SetPositionLabelLineAndBox) {
    script.fetch = 0;  // the run posts 3067 3068 and ends
    script.duringFetch = [](UpgradeEngine&) {};
    Open();
    ASSERT_TRUE(view.DispatchUntil([this] { return !dialog->RunUnderway(); }));
    view.boxes.clear();
    dialog->OnNotification(3071);  // a known state: step 3
    ASSERT_EQ(view.position, 20);
    view.ClearCalls();
    view.upgradeEnabled = false;

    const Reaction& r = GetParam();
    dialog->OnNotification(r.code);

    EXPECT_EQ(view.position, r.position);
    EXPECT_EQ(dialog->currentStep(), r.step);
    EXPECT_EQ(view.texts[IDC_MESSAGE], r.message);
    if (r.step != 0) {
        EXPECT_EQ(view.red, std::vector<int>{r.step});
    } else {
        EXPECT_TRUE(view.red.empty());
    }
    if (r.box.empty()) {
        EXPECT_TRUE(view.boxes.empty());
        EXPECT_FALSE(view.upgradeEnabled);
        // A change of position, text or label ends with a redraw without erasing.
        EXPECT_EQ(view.calls.back(), "invalidate");
    } else {
        EXPECT_EQ(view.boxes, std::vector<std::string>{r.box});
        // The box comes after the other changes and is followed by Upgrade.
        ASSERT_GE(view.calls.size(), 2u);
        EXPECT_EQ(view.calls[view.calls.size() - 2], "box");
        EXPECT_EQ(view.calls.back(), "enable");
        EXPECT_TRUE(view.upgradeEnabled);
    }
}

const char* const STEP3_LINE = "正在下载文件,请等待...,升级进度:20%";

INSTANTIATE_TEST_SUITE_P(
    EveryNotification, UpgradeDialogReactions,
    ::testing::Values(Reaction{3066, 20, 1006, STEP3_LINE,
                               "Pelmo程序正在运行中,请先退出Pelmo程序。"},
                      Reaction{3067, 10, 1004, "升级进度:10%", ""},
                      Reaction{3068, 20, 1006, STEP3_LINE, "下载升级配置文件失败,请检查网络连接!"},
                      Reaction{3069, 15, 1005, "升级进度:15%", ""},
                      Reaction{3070, 0, 0, "没有新版本,请退出", "没有新版本,请退出!"},
                      Reaction{3071, 20, 1006, STEP3_LINE, ""},
                      Reaction{3072, 20, 1006, STEP3_LINE, "下载升级包文件失败,请检查网络连接!"},
                      Reaction{3073, 60, 1007, "升级进度:60%", ""},
                      Reaction{3074, 20, 1006, STEP3_LINE, "升级失败,请重试!"},
                      Reaction{3075, 90, 1008, "升级进度:90%", ""},
                      Reaction{3076, 20, 1006, STEP3_LINE, "启动Pelmo失败,请重试!"}));

TEST_F(UpgradeDialogTest, CompleteRunMovesThroughEveryStepAndClosesItself) {
    OpenAndRun();
    EXPECT_EQ(view.position, 100);
    EXPECT_EQ(view.texts[IDC_MESSAGE], "升级进度:100%");
    EXPECT_EQ(dialog->currentStep(), 1008);
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_TRUE(view.ended);
    EXPECT_TRUE(dialog->closed());
    // The positions in order.
    std::vector<std::string> positions;
    for (const auto& call : view.calls) {
        if (call.rfind("pos ", 0) == 0) positions.push_back(call);
    }
    EXPECT_EQ(positions, (std::vector<std::string>{"pos 0", "pos 10", "pos 15", "pos 20", "pos 60",
                                                   "pos 90", "pos 100"}));
    // The run started the client once; the close path did not start it again.
    EXPECT_EQ(script.launchCalls.load(), 1);
}

TEST_F(UpgradeDialogTest, AutoCheckStoredAsTwoOpensUncheckedAndIsWrittenBackAtEveryClose) {
    // The automatic close after 3077 writes it too.
    platform::RegistryKey key;
    ClientSettings::WriteAutoCheck(false);
    ClientSettings::WriteInstalledVersion(2003);
    {
        // UPGRADEAUTORUN 2: not exactly 1.
        std::string path = environment.folder() + "/registry.db";
        ASSERT_TRUE(key.OpenForWrite(path, "SOFTWARE\\TAVRIN\\PELMO"));
        const uint32_t two = 2;
        ASSERT_TRUE(key.SetValue("UPGRADEAUTORUN", platform::REG_DWORD, &two, 4));
        key.Close();
    }
    OpenAndRun();
    EXPECT_FALSE(view.calls.empty());
    EXPECT_NE(std::find(view.calls.begin(), view.calls.end(), "check 0"), view.calls.end());
    EXPECT_TRUE(view.ended);
    {
        std::string path = environment.folder() + "/registry.db";
        ASSERT_TRUE(key.OpenForRead(path, "SOFTWARE\\TAVRIN\\PELMO"));
        uint32_t stored = 99, size = 4;
        ASSERT_TRUE(key.QueryValue("UPGRADEAUTORUN", nullptr, &stored, &size));
        EXPECT_EQ(stored, 0u);
    }
}

TEST_F(UpgradeDialogTest, CheckBoxWrittenAsOneOrZeroWhenClosedByHand) {
    script.fetch = 0;
    OpenAndRun();
    EXPECT_FALSE(view.checked);
    view.checked = true;  // the user ticks the box
    dialog->OnCancel();
    EXPECT_TRUE(ClientSettings::ReadAutoCheck());

    RecordingView second;
    UpgradeDialog again(second, std::make_shared<UpgradeEngine>(UpgradeSteps{}), false);
    again.OnInitDialog();
    EXPECT_TRUE(second.checked);
    second.checked = false;
    again.OnCancel();
    EXPECT_FALSE(ClientSettings::ReadAutoCheck());
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 0);
}

// Started by the client, the close path starts the client again unless the
// upgrade completed; otherwise it never does.
struct Relaunch {
    const char* name;
    bool startedByClient;
    int fetch, newer, download, clientRunning, install, launch;
    int expectedLaunches;  // by the run and the close path together
};

void PrintTo(const Relaunch& r, std::ostream* os) { *os << r.name; }

class UpgradeDialogRelaunch : public UpgradeDialogTest,
                              public ::testing::WithParamInterface<Relaunch> {};

TEST_P(UpgradeDialogRelaunch, CloseStartsTheClientOnlyWhenItStartedUs) {
    const Relaunch& r = GetParam();
    script.fetch = r.fetch, script.newer = r.newer, script.download = r.download;
    script.clientRunning = r.clientRunning, script.install = r.install, script.launch = r.launch;
    OpenAndRun(r.startedByClient);
    if (!dialog->closed()) dialog->OnCancel();
    EXPECT_EQ(script.launchCalls.load(), r.expectedLaunches);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnding, UpgradeDialogRelaunch,
    ::testing::Values(Relaunch{"ByClientAfterCompleteRun", true, 1, 1, 1, 0, 1, 1, 1},
                      Relaunch{"ByClientAfterNoNewVersion", true, 1, 0, 1, 0, 1, 1, 1},
                      Relaunch{"ByClientAfterClientRunning", true, 1, 1, 1, 1, 1, 1, 1},
                      Relaunch{"ByClientAfterManifestFailure", true, 0, 1, 1, 0, 1, 1, 1},
                      Relaunch{"ByClientAfterInstallFailure", true, 1, 1, 1, 0, 0, 1, 1},
                      Relaunch{"ByClientAfterRestartFailure", true, 1, 1, 1, 0, 1, 0, 2},
                      Relaunch{"ByHandAfterNoNewVersion", false, 1, 0, 1, 0, 1, 1, 0},
                      Relaunch{"ByHandAfterClientRunning", false, 1, 1, 1, 1, 1, 1, 0},
                      Relaunch{"ByHandAfterDownloadFailure", false, 1, 1, 0, 0, 1, 1, 0},
                      Relaunch{"ByHandAfterCompleteRun", false, 1, 1, 1, 0, 1, 1, 1}));

TEST_F(UpgradeDialogTest, UpgradeClickDuringARunIsIgnored) {
    Gate gate;
    script.duringFetch = [&](UpgradeEngine& e) {
        gate.Pass([&] { return e.cancelRequested != 0; });
    };
    Open();
    ASSERT_TRUE(gate.WaitReached());
    engine->currentPackageBytes = 7;
    view.ClearCalls();
    dialog->StartUpgrade();
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(engine->currentPackageBytes.load(), 7);  // not reset: nothing was done
    gate.Open();
    ASSERT_TRUE(view.DispatchUntil([this] { return dialog->closed(); }));
    EXPECT_EQ(script.fetchCalls.load(), 1);
}

TEST_F(UpgradeDialogTest, UpgradeAfterAFailureStartsANewRunFromStepOne) {
    script.fetch = 0;
    OpenAndRun();
    ASSERT_TRUE(view.upgradeEnabled);
    script.fetch = 1;
    dialog->StartUpgrade();
    EXPECT_FALSE(view.upgradeEnabled);
    EXPECT_EQ(view.position, 0);
    ASSERT_TRUE(view.DispatchUntil([this] { return dialog->closed(); }));
    EXPECT_EQ(script.fetchCalls.load(), 2);
    EXPECT_EQ(view.position, 100);
}

TEST_F(UpgradeDialogTest, DownloadTextFollowsTheTransferAndNeverPassesTheTotal) {
    script.duringFetch = [](UpgradeEngine& e) { e.totalDownloadBytes = 204800; };
    script.duringDownload = [](UpgradeEngine& e) {
        e.currentPackageBytes = 102400;
        // Half of the first package, then a transfer far beyond its size.
        e.notifyWindow.ShowDownloadProgress(500, 1000, 102400, 0);
        e.notifyWindow.ShowDownloadProgress(9000, 1000, 102400, 102400);
    };
    std::vector<std::string> labels;
    Open();
    ASSERT_TRUE(view.DispatchUntil([&] {
        if (view.texts.count(IDC_STEP3) &&
            (labels.empty() || labels.back() != view.texts[IDC_STEP3]))
            labels.push_back(view.texts[IDC_STEP3]);
        return dialog->closed();
    }));
    ASSERT_GE(labels.size(), 2u);
    EXPECT_EQ(labels[0], "3.下载升级包文件 ( 50.0k / 共200.0k )");
    EXPECT_EQ(labels[1], "3.下载升级包文件 ( 200.0k / 共200.0k )");
    // The label keeps the download text to the end.
    EXPECT_EQ(view.texts[IDC_STEP3], labels[1]);
}

TEST_F(UpgradeDialogTest, DownloadTextMakesLabelThreeTheRedOne) {
    script.fetch = 0;
    OpenAndRun();
    dialog->OnNotification(3067);
    dialog->OnWindowEvent({WindowEvent::Kind::DownloadText, 0, "3.x"});
    EXPECT_EQ(dialog->currentStep(), 1006);
    EXPECT_EQ(view.red, std::vector<int>{1006});
    EXPECT_EQ(view.texts[IDC_STEP3], "3.x");
    EXPECT_EQ(dialog->StepLabelColour(1006), 0x0000FFu);
    EXPECT_EQ(dialog->StepLabelColour(1004), 0u);
}

TEST_F(UpgradeDialogTest, CloseDuringARunStopsItWaitsAndResets) {
    Gate gate;
    script.duringDownload = [&](UpgradeEngine& e) {
        e.currentPackageBytes = 5;
        e.completedPackageBytes = 6;
        gate.Pass([&] { return e.cancelRequested != 0; });
    };
    script.download = 0;  // a cancelled download fails
    Open();
    ASSERT_TRUE(gate.WaitReached());
    dialog->OnCancel();

    EXPECT_FALSE(dialog->RunUnderway());
    EXPECT_EQ(engine->cancelRequested.load(), 0);
    EXPECT_EQ(engine->currentPackageBytes.load(), 0);
    EXPECT_EQ(engine->completedPackageBytes.load(), 0);
    EXPECT_GT(view.repaints, 0);  // the wait kept repainting
    EXPECT_TRUE(view.upgradeEnabled);
    EXPECT_TRUE(view.ended);
    // 3072 came too late: the closing dialog shows no box.
    view.DispatchQueued();
    EXPECT_TRUE(view.boxes.empty());
}

TEST_F(UpgradeDialogTest, ACloseBeforeTheWorkerStartsEndsTheRunWithoutNotifications) {
    Open();
    dialog->OnCancel();
    EXPECT_EQ(script.fetchCalls.load(), 0);
    EXPECT_TRUE(view.QueuedCodes().empty());
}

TEST_F(UpgradeDialogTest, WorkerOutlivingTheDialogPostsNothingMore) {
    Gate gate;
    script.duringFetch = [&](UpgradeEngine&) { gate.Pass([] { return false; }); };
    Open();
    ASSERT_TRUE(gate.WaitReached());
    dialog.reset();  // the dialog goes while its worker still runs
    gate.Open();
    pelmo::testing::WaitUntil([this] { return engine.use_count() <= 1; }, std::chrono::seconds(5));
    // Only what was posted while the dialog existed.
    EXPECT_EQ(view.QueuedCodes(), std::vector<int>{3067});
}

}  // namespace
}  // namespace pelmo::ui
