#include <stdexcept>

#include "app_test_support.h"
#include "settings/client_settings.h"

namespace pelmo {
namespace {

using testing::Gate;
using testing::PrivateEnvironment;
using testing::RecordingTarget;
using testing::RunToEnd;
using testing::WaitFinished;
using testing::WaitUntil;

// The answers of the six steps and the notifications they lead to.
struct Outcome {
    const char* name;
    int fetch, newer, download, clientRunning, install, launch;
    std::vector<int> expected;
};

void PrintTo(const Outcome& outcome, std::ostream* os) { *os << outcome.name; }

UpgradeSteps StepsFor(const Outcome& o) {
    UpgradeSteps steps;
    steps.fetchManifest = [o](UpgradeEngine&) { return o.fetch; };
    steps.hasNewerVersion = [o](UpgradeEngine&) { return o.newer; };
    steps.downloadPackages = [o](UpgradeEngine&) { return o.download; };
    steps.isClientRunning = [o](UpgradeEngine&) { return o.clientRunning; };
    steps.installPackages = [o](UpgradeEngine&) { return o.install; };
    steps.launchClient = [o](UpgradeEngine&) { return o.launch; };
    return steps;
}

std::vector<int> RunOnce(const std::shared_ptr<UpgradeEngine>& engine) {
    RecordingTarget target;
    EXPECT_TRUE(RunToEnd(engine, target));
    return target.codes();
}

class UpgradeEngineOutcomes : public ::testing::TestWithParam<Outcome> {
  protected:
    PrivateEnvironment environment_;
};

TEST_P(UpgradeEngineOutcomes, PostsTheSequenceOfItsOutcome) {
    auto engine = std::make_shared<UpgradeEngine>(StepsFor(GetParam()));
    EXPECT_EQ(RunOnce(engine), GetParam().expected);
    EXPECT_EQ(engine->finished.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, UpgradeEngineOutcomes,
    ::testing::Values(
        Outcome{"FullSuccess", 1, 1, 1, 0, 1, 1, {3067, 3069, 3071, 3073, 3075, 3077}},
        Outcome{"ManifestFailed", 0, 1, 1, 0, 1, 1, {3067, 3068}},
        Outcome{"NothingNewer", 1, 0, 1, 0, 1, 1, {3067, 3069, 3070}},
        Outcome{"DownloadFailed", 1, 1, 0, 0, 1, 1, {3067, 3069, 3071, 3072}},
        Outcome{"ClientRunning", 1, 1, 1, 1, 1, 1, {3067, 3069, 3071, 3066}},
        Outcome{"InstallFailed", 1, 1, 1, 0, 0, 1, {3067, 3069, 3071, 3073, 3074}},
        Outcome{"ClientStartFailed", 1, 1, 1, 0, 1, 0, {3067, 3069, 3071, 3073, 3075, 3076}},
        // Any nonzero answer counts as true.
        Outcome{"NonzeroIsTrue", 7, -1, 2, 0, 3, 9, {3067, 3069, 3071, 3073, 3075, 3077}}),
    [](const auto& info) { return std::string(info.param.name); });

// A cancel requested during step k is seen at the check after it; the steps
// after the check never run and no closing notification follows.
struct CancelPoint {
    const char* name;
    int cancelInStep;  // 0: before the run starts; 1..5: inside that step
    std::vector<int> expected;
    std::vector<int> stepsCalled;
};

void PrintTo(const CancelPoint& point, std::ostream* os) { *os << point.name; }

class UpgradeEngineCancel : public ::testing::TestWithParam<CancelPoint> {
  protected:
    PrivateEnvironment environment_;
};

TEST_P(UpgradeEngineCancel, StopsAtTheNextCheckWithoutClosingNotification) {
    const CancelPoint& point = GetParam();
    auto called = std::make_shared<std::vector<int>>();
    auto step = [called, point](int number) {
        return [called, point, number](UpgradeEngine& engine) {
            called->push_back(number);
            if (number == point.cancelInStep) engine.cancelRequested.store(1);
            return number == 4 ? 0 : 1;  // step 4 is the client test: not running
        };
    };
    UpgradeSteps steps;
    steps.fetchManifest = step(1);
    steps.hasNewerVersion = step(2);
    steps.downloadPackages = step(3);
    steps.isClientRunning = step(4);
    steps.installPackages = step(5);
    steps.launchClient = step(6);
    auto engine = std::make_shared<UpgradeEngine>(steps);
    if (point.cancelInStep == 0) engine->cancelRequested.store(1);
    EXPECT_EQ(RunOnce(engine), point.expected);
    EXPECT_EQ(*called, point.stepsCalled);
    EXPECT_EQ(engine->finished.load(), 1);
    EXPECT_EQ(engine->cancelRequested.load(), 1) << "the worker never clears the request";
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheckPoint, UpgradeEngineCancel,
    ::testing::Values(CancelPoint{"BeforeManifest", 0, {}, {}},
                      CancelPoint{"BeforeVersionTest", 1, {3067}, {1}},
                      CancelPoint{"BeforeDownload", 2, {3067, 3069}, {1, 2}},
                      CancelPoint{"AfterDownload", 3, {3067, 3069, 3071}, {1, 2, 3}},
                      CancelPoint{"AfterClientTest", 4, {3067, 3069, 3071}, {1, 2, 3, 4}},
                      CancelPoint{
                          "AfterInstallation", 5, {3067, 3069, 3071, 3073}, {1, 2, 3, 4, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

class UpgradeEngineTest : public ::testing::Test {
  protected:
    PrivateEnvironment environment_;
};

TEST_F(UpgradeEngineTest, ExceptionInAnyStepEndsTheRunSilently) {
    const std::vector<std::vector<int>> prefixes = {{3067},
                                                    {3067, 3069},
                                                    {3067, 3069, 3071},
                                                    {3067, 3069, 3071},
                                                    {3067, 3069, 3071, 3073},
                                                    {3067, 3069, 3071, 3073, 3075}};
    for (int throwing = 0; throwing < 6; ++throwing) {
        SCOPED_TRACE(throwing);
        auto step = [throwing](int number, int answer) {
            return [=](UpgradeEngine&) -> int {
                if (number == throwing) {
                    if (number % 2) throw 42;  // not even a std::exception
                    throw std::runtime_error("step failed");
                }
                return answer;
            };
        };
        UpgradeSteps steps{step(0, 1), step(1, 1), step(2, 1), step(3, 0),
                           step(4, 1), step(5, 1), {}};
        auto engine = std::make_shared<UpgradeEngine>(steps);
        EXPECT_EQ(RunOnce(engine), prefixes[throwing]);
        EXPECT_EQ(engine->finished.load(), 1);
    }
}

TEST_F(UpgradeEngineTest, SecondRunAfterFailureStartsFromEmptyListAndZeroCounters) {
    ClientSettings::WriteInstalledVersion(2003);
    int run = 0;
    std::vector<VersionEntry> seenVersions;
    int32_t seenTotal = -1, seenCompleted = -1, seenLatest = -1, seenInstalled = -1;
    std::string seenBase = "unset";
    UpgradeSteps steps;
    steps.fetchManifest = [&](UpgradeEngine& engine) {
        if (++run == 2) {
            seenVersions = engine.versions;
            seenBase = engine.packageBaseUrl;
            seenTotal = engine.totalDownloadBytes;
            seenCompleted = engine.completedPackageBytes;
            seenLatest = engine.latestVersion;
            seenInstalled = engine.installedVersion;
        }
        engine.versions = {{2004, 100}, {2005, 200}};
        engine.packageBaseUrl = "http://127.0.0.1/p/";
        engine.latestVersion = 2005;
        engine.totalDownloadBytes = 300;
        return 1;
    };
    steps.hasNewerVersion = [](UpgradeEngine&) { return 1; };
    steps.downloadPackages = [](UpgradeEngine& engine) {
        engine.currentPackageBytes = 100;
        engine.completedPackageBytes = 100;
        ClientSettings::WriteInstalledVersion(2004);
        return 0;
    };
    auto engine = std::make_shared<UpgradeEngine>(steps);
    EXPECT_EQ(engine->installedVersion, 2003);
    EXPECT_EQ(RunOnce(engine), (std::vector<int>{3067, 3069, 3071, 3072}));
    RunOnce(engine);
    EXPECT_TRUE(seenVersions.empty());
    EXPECT_EQ(seenBase, "");
    EXPECT_EQ(seenTotal, 0);
    EXPECT_EQ(seenCompleted, 0);
    EXPECT_EQ(seenInstalled, 2004) << "the installed version is read again";
    EXPECT_EQ(seenLatest, 2004);
}

TEST_F(UpgradeEngineTest, NotificationsForADetachedTargetAreDroppedAndTheRunEnds) {
    Gate gate;
    bool launched = false;
    UpgradeSteps steps = StepsFor(Outcome{"", 1, 1, 1, 0, 1, 1, {}});
    steps.fetchManifest = [&](UpgradeEngine&) {
        gate.Pass();
        return 1;
    };
    steps.downloadPackages = [](UpgradeEngine& engine) {
        engine.notifyWindow.ShowDownloadProgress(1, 2, 3, 4);
        return 1;
    };
    steps.launchClient = [&](UpgradeEngine&) {
        launched = true;
        return 1;
    };
    auto engine = std::make_shared<UpgradeEngine>(steps);
    auto target = std::make_unique<RecordingTarget>();
    engine->AttachTarget(target.get());
    ASSERT_TRUE(StartUpgradeThread(engine));
    ASSERT_TRUE(gate.WaitReached());
    engine->DetachTarget();
    const std::vector<int> before = target->codes();
    target.reset();  // the dialog is gone
    gate.Open();
    ASSERT_TRUE(WaitFinished(*engine));
    EXPECT_EQ(before, std::vector<int>{3067});
    EXPECT_TRUE(launched) << "the run goes on to its end";
}

TEST_F(UpgradeEngineTest, DownloadProgressReachesTheAttachedTarget) {
    UpgradeSteps steps = StepsFor(Outcome{"", 1, 1, 1, 0, 0, 0, {}});
    steps.downloadPackages = [](UpgradeEngine& engine) {
        DownloadProgressDisplay& display = engine.notifyWindow;
        display.ShowDownloadProgress(512, 1024, 2048, 4096);
        return 1;
    };
    auto engine = std::make_shared<UpgradeEngine>(steps);
    RecordingTarget target;
    ASSERT_TRUE(RunToEnd(engine, target));
    EXPECT_EQ(target.progress(), (std::vector<std::vector<float>>{{512, 1024, 2048, 4096}}));
}

TEST_F(UpgradeEngineTest, OneRunAtATimeAndTheEngineOutlivesItsOwner) {
    Gate gate;
    std::weak_ptr<UpgradeEngine> watch;
    UpgradeSteps steps = StepsFor(Outcome{"", 1, 1, 1, 0, 1, 1, {}});
    auto done = std::make_shared<std::atomic<int>>(0);
    steps.hasNewerVersion = [&gate](UpgradeEngine&) {
        gate.Pass();
        return 1;
    };
    steps.launchClient = [done](UpgradeEngine& engine) {
        engine.versions.push_back({1, 1});  // touches the engine after its owner let go
        done->store(1);
        return 1;
    };
    {
        auto engine = std::make_shared<UpgradeEngine>(steps);
        watch = engine;
        ASSERT_TRUE(StartUpgradeThread(engine));
        EXPECT_EQ(engine->finished.load(), 0) << "cleared before the worker exists";
        EXPECT_FALSE(StartUpgradeThread(engine)) << "a run is under way";
        ASSERT_TRUE(gate.WaitReached());
        // The close path gives up waiting: it forces finished and lets go.
        engine->finished.store(1);
    }
    EXPECT_FALSE(watch.expired()) << "the worker still shares the engine";
    gate.Open();
    EXPECT_TRUE(WaitUntil([&watch] { return watch.expired(); }));
    EXPECT_EQ(done->load(), 1);
}

TEST_F(UpgradeEngineTest, WorkerWithoutEngineEndsAtOnce) {
    EXPECT_EQ(UpgradeThreadProc(nullptr), 0);
    EXPECT_FALSE(StartUpgradeThread(nullptr));
}

TEST_F(UpgradeEngineTest, EmptySeamsFailTheirStep) {
    auto engine = std::make_shared<UpgradeEngine>(UpgradeSteps{});
    EXPECT_EQ(RunOnce(engine), (std::vector<int>{3067, 3068}));
}

TEST_F(UpgradeEngineTest, ConstructionReadsTheInstalledVersion) {
    EXPECT_EQ(UpgradeEngineBase().installedVersion, 0);
    EXPECT_EQ(UpgradeEngineBase().latestVersion, 2000);
    ClientSettings::WriteInstalledVersion(-7);
    ClientSettings::WriteAutoCheck(true);
    UpgradeEngineBase base;
    EXPECT_EQ(base.installedVersion, -7);
    EXPECT_TRUE(base.ReadAutoCheck());
    EXPECT_EQ(base.totalDownloadBytes.load(), 0);
}

TEST_F(UpgradeEngineTest, DefaultVersionTestComparesSigned) {
    UpgradeEngine engine;
    engine.installedVersion = -5;
    engine.latestVersion = -4;
    EXPECT_EQ(engine.HasNewerVersion(), 1);
    engine.latestVersion = -5;
    EXPECT_EQ(engine.HasNewerVersion(), 0);
    engine.installedVersion = 2006;
    engine.latestVersion = 2005;
    EXPECT_EQ(engine.HasNewerVersion(), 0);
}

}  // namespace
}  // namespace pelmo
