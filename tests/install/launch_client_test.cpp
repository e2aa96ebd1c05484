// LaunchClient with real client programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "install/client_launch.h"
#include "tests/platform/compound_test_support.h"
#include "tests/support/wait_until.h"

namespace pelmo {
namespace {

using test::TempFolder;
namespace fs = std::filesystem;

// The client programs of these tests write their folder to a file.
std::string WaitForFile(const std::string& path) {
    return pelmo::testing::WaitForFile(path, std::chrono::seconds(5));
}

TEST(LaunchClient, StartsTheClientInItsFolderAfterReleasingTheGuard) {
    TempFolder temp;
    const std::string folder = temp / "client dir";
    test::WriteFile(folder + "/pelmo.exe", "#!/bin/sh\npwd > '" + (temp / "started.txt") + "'\n");
    fs::permissions(folder + "/pelmo.exe", static_cast<fs::perms>(0755));
    int released = 0;
    EXPECT_EQ(LaunchClient(folder, [&] { ++released; }), 1);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(WaitForFile(temp / "started.txt"), folder + "\n");
    // A folder that already ends in "/" gets no second one.
    fs::remove(temp / "started.txt");
    EXPECT_EQ(LaunchClient(folder + "/", nullptr), 1);
    EXPECT_EQ(WaitForFile(temp / "started.txt"), folder + "\n");
}

TEST(LaunchClient, MissingClientIsSuccessWithoutStartingAnything) {
    TempFolder temp;
    int released = 0;
    EXPECT_EQ(LaunchClient(temp / "nothing here", [&] { ++released; }), 1);
    EXPECT_EQ(released, 1);
    // An empty client folder looks for /pelmo.exe.
    ASSERT_FALSE(fs::exists("/pelmo.exe"));
    EXPECT_EQ(LaunchClient("", [&] { ++released; }), 1);
    EXPECT_EQ(released, 2);
}

TEST(LaunchClient, AFileThatCannotBeStartedIsZeroAndTheGuardStaysReleased) {
    TempFolder temp;
    test::WriteFile(temp / "plain/pelmo.exe", "just text");
    int released = 0;
    EXPECT_EQ(LaunchClient(temp / "plain", [&] { ++released; }), 0);
    EXPECT_EQ(released, 1);
    // Marked executable but not a program.
    test::WriteFile(temp / "junk/pelmo.exe", std::string("\x01\x02\x03\x04garbage", 11));
    fs::permissions(temp / "junk/pelmo.exe", static_cast<fs::perms>(0755));
    EXPECT_EQ(LaunchClient(temp / "junk", [&] { ++released; }), 0);
    EXPECT_EQ(released, 2);
}

}  // namespace
}  // namespace pelmo
