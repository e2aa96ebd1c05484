// The upgrader's guard and the client probe, with the other upgraders and the
// client played by real processes.
#include "app/instance_checker.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "app_test_support.h"
#include "child_process.h"

namespace pelmo {
namespace {

using testing::ChildProcess;
using testing::PrivateEnvironment;

std::unique_ptr<ChildProcess> Hold(const std::string& what) {
    return std::make_unique<ChildProcess>(std::vector<std::string>{HOLD_NAMED_OBJECT_PATH, what});
}

std::unique_ptr<ChildProcess> Upgrader() { return Hold("--upgrader"); }

class InstanceGuardTest : public ::testing::Test {
  protected:
    PrivateEnvironment environment_;
};

TEST_F(InstanceGuardTest, SecondUpgraderIsRefusedUntilTheFirstEnds) {
    auto first = Upgrader();
    ASSERT_EQ(first->ReadLine(), "held");

    auto second = Upgrader();
    EXPECT_EQ(second->ReadLine(), "refused");
    EXPECT_EQ(second->Wait(), 3);
    CInstanceChecker inProcess;
    EXPECT_TRUE(inProcess.IsAnotherInstanceRunning());

    first->CloseInput();
    ASSERT_EQ(first->Wait(), 0);
    auto third = Upgrader();
    EXPECT_EQ(third->ReadLine(), "held");
}

TEST_F(InstanceGuardTest, ReleasedGuardLetsANewUpgraderStartWhileTheFirstRuns) {
    CInstanceChecker checker;
    ASSERT_FALSE(checker.IsAnotherInstanceRunning());
    EXPECT_EQ(Upgrader()->ReadLine(), "refused");

    checker.ReleaseGuard();
    checker.ReleaseGuard();  // a second release does nothing
    auto next = Upgrader();
    EXPECT_EQ(next->ReadLine(), "held");
}

TEST_F(InstanceGuardTest, ChildrenDoNotInheritTheGuard) {
    CInstanceChecker checker;
    ASSERT_FALSE(checker.IsAnotherInstanceRunning());
    // A child started while the guard is held (as the client is started) and
    // still alive after the release.
    auto child = Hold("SomeOtherObject");
    ASSERT_EQ(child->ReadLine(), "held");
    checker.ReleaseGuard();
    auto next = Upgrader();
    EXPECT_EQ(next->ReadLine(), "held");
}

TEST_F(InstanceGuardTest, UpgradersStartedAtTheSameMomentLeaveExactlyOneHolder) {
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<ChildProcess>> upgraders;
        for (int i = 0; i < 5; ++i) upgraders.push_back(Upgrader());
        int held = 0, refused = 0;
        for (auto& upgrader : upgraders) {
            const std::string line = upgrader->ReadLine();
            held += line == "held";
            refused += line == "refused";
        }
        EXPECT_EQ(held, 1);
        EXPECT_EQ(refused, 4);
    }
}

TEST_F(InstanceGuardTest, GuardHoldsItsNameAsContent) {
    CInstanceChecker checker;
    ASSERT_FALSE(checker.IsAnotherInstanceRunning());
    std::ifstream file(environment_.folder() + "/" + UPGRADER_GUARD_NAME, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(content, std::string(UPGRADER_GUARD_NAME) + '\0');
}

TEST_F(InstanceGuardTest, NoUsableFolderCountsAsAnotherUpgrader) {
    setenv("XDG_RUNTIME_DIR", (environment_.folder() + "/missing").c_str(), 1);
    CInstanceChecker checker;
    EXPECT_TRUE(checker.IsAnotherInstanceRunning());
    EXPECT_FALSE(IsClientRunning());
}

TEST_F(InstanceGuardTest, ClientIsDetectedOnlyWhileItsObjectIsHeld) {
    const std::string file = environment_.folder() + "/" + CLIENT_GUARD_NAME;
    EXPECT_FALSE(IsClientRunning());
    struct stat st;
    EXPECT_NE(lstat(file.c_str(), &st), 0) << "the probe never creates the object";

    auto client = Hold(CLIENT_GUARD_NAME);
    ASSERT_EQ(client->ReadLine(), "held");
    EXPECT_TRUE(IsClientRunning());
    EXPECT_TRUE(IsClientRunning()) << "the probe does not disturb the holder";
    client->CloseInput();
    ASSERT_EQ(client->Wait(), 0);
    EXPECT_FALSE(IsClientRunning()) << "the file stays, but nobody holds it";

    auto crashing = Hold(CLIENT_GUARD_NAME);
    ASSERT_EQ(crashing->ReadLine(), "held");
    EXPECT_TRUE(IsClientRunning());
    kill(crashing->pid(), SIGKILL);
    crashing->Wait();
    EXPECT_FALSE(IsClientRunning()) << "a client that dies releases its object";
}

TEST_F(InstanceGuardTest, EngineStepUsesTheClientProbe) {
    UpgradeEngine engine;
    EXPECT_EQ(engine.IsClientRunning(), 0);
    auto client = Hold(CLIENT_GUARD_NAME);
    ASSERT_EQ(client->ReadLine(), "held");
    EXPECT_EQ(engine.IsClientRunning(), 1);
}

}  // namespace
}  // namespace pelmo
