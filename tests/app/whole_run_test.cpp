// A whole upgrade run with the program's real steps: a manifest and two
// packages (cabinets holding N.pak) served over HTTP on 127.0.0.1, a client
// program and a post-install program that record that they ran and where.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "app/process_state.h"
#include "app/upgrade_engine.h"
#include "tests/app/app_test_support.h"
#include "tests/platform/compound_test_support.h"
#include "tests/support/http_server.h"

namespace pelmo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string TOOL = std::string(PELMO_BINARY_DIR) + "/tools/pelmo-tool";

// Disabled until the manifest and download steps are wired into
// DefaultUpgradeSteps(); until then the run ends after 3067, 3068.
TEST(WholeRun, UpgradesTwoVersionsFromAServerAndStartsTheClient) {
    testing::PrivateEnvironment environment;  // settings store and runtime folder
    const std::string root = environment.folder();
    const std::string client = root + "/client";
    const std::string www = root + "/www";
    fs::create_directories(client);
    fs::create_directories(root + "/tmp");
    fs::create_directories(www + "/packages");
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);

    // Version 101 brings the client program and a post-install program;
    // version 102 changes a file and adds a folder.
    WriteFile(root + "/content/101/readme.txt", "version 101\n");
    WriteFile(root + "/content/101/pelmo.exe",
              "#!/bin/sh\npwd > '" + root + "/client_started.txt'\n");
    WriteFile(root + "/content/101/PelmoUpgrade.exe",
              "#!/bin/sh\npwd >> '" + root + "/post_install_ran.txt'\n");
    WriteFile(root + "/content/102/readme.txt", "version 102\n");
    WriteFile(root + "/content/102/bin/core.dll", test::PatternBytes(100000, 9));
    std::string manifestEntries;
    for (const std::string version : {"101", "102"}) {
        const std::string pak = root + "/stage/" + version + ".pak";
        fs::create_directories(root + "/stage");
        ASSERT_EQ(test::Run({TOOL, "pak", "pack", root + "/content/" + version, pak}), 0);
        const std::string cab = www + "/packages/" + version + ".cab";
        ASSERT_EQ(test::Run({TOOL, "cab", "create", "--codec", "mszip", "-o", cab, pak}), 0);
        manifestEntries += "<version ID=\"" + version + "\" CABSIZE=\"" +
                           std::to_string(fs::file_size(cab)) + "\"/>\n";
    }
    testing::TestHttpServer server(www);
    WriteFile(www + "/upgrade.xml", "<?xml version=\"1.0\"?>\n<versions SrcPath=\"" + server.Url() +
                                        "packages\">\n" + manifestEntries + "</versions>\n");
    ASSERT_EQ(test::Run({TOOL, "reg", "set", "VERSION", "dword", "100"}), 0);
    ASSERT_EQ(test::Run({TOOL, "reg", "set", "EXEPATH", "sz", client + "/pelmo.exe"}), 0);
    ASSERT_EQ(test::Run({TOOL, "reg", "set", "UPGRADECFGFILE", "sz", server.Url() + "upgrade.xml"}),
              0);
    Process().modulePath = root + "/upgrader/pelmo-upgrader";

    auto engine = std::make_shared<UpgradeEngine>();
    testing::RecordingTarget target;
    ASSERT_TRUE(testing::RunToEnd(engine, target));

    EXPECT_EQ(target.codes(), (std::vector<int>{3067, 3069, 3071, 3073, 3075, 3077}));
    EXPECT_EQ(ReadFile(client + "/readme.txt"), "version 102\n");
    EXPECT_EQ(ReadFile(client + "/bin/core.dll"), test::PatternBytes(100000, 9));
    // The post-install program ran once, in the upgrader's current folder, and is gone.
    EXPECT_EQ(ReadFile(root + "/post_install_ran.txt"), fs::current_path().string() + "\n");
    EXPECT_FALSE(fs::exists(client + "/PelmoUpgrade.exe"));
    // The client started in its own folder.
    EXPECT_EQ(testing::WaitForFile(root + "/client_started.txt", std::chrono::seconds(10)),
              client + "\n");
    std::string version;
    ASSERT_EQ(
        test::Run({"sh", "-c", "'" + TOOL + "' reg get VERSION > '" + root + "/version.txt'"}), 0);
    EXPECT_EQ(ReadFile(root + "/version.txt"), "102\n");
    // The installed versions' packages are gone from the work folder.
    for (const char* name : {"101.cab", "101.pak", "102.cab", "102.pak"})
        EXPECT_FALSE(fs::exists(root + "/tmp/PELMO_UPGRADE/" + name)) << name;
    unsetenv("TMPDIR");
}

}  // namespace
}  // namespace pelmo
