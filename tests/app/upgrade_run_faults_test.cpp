// Whole runs of pelmo-upgrader --console against the local HTTP server that
// go wrong: a kill -9 during the installation and the run after it, stop
// requests during transfers, and the cause printed under each failure.
#include <gtest/gtest.h>
#include <signal.h>

#include <random>

#include "app_test_support.h"
#include "settings/client_settings.h"
#include "upgrade_app_process.h"

namespace pelmo {
namespace {

using namespace testing::program;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class UpgradeRunFaults : public ::testing::Test {
  protected:
    // Each user of the machine has their own work folder: under HOME here.
    std::map<std::string, std::string> Env() const {
        return {{"PELMO_REGISTRY", folder() + "/registry.db"},
                {"XDG_RUNTIME_DIR", folder()},
                {"XDG_STATE_HOME", folder()},
                {"XDG_CACHE_HOME", ""},
                {"TMPDIR", ""},
                {"HOME", folder()}};
    }
    std::string folder() const { return environment.folder(); }
    std::string client() const { return folder() + "/client"; }
    std::string work() const { return folder() + "/.cache/pelmo/PELMO_UPGRADE"; }
    void Tool(const std::vector<std::string>& args) {
        ASSERT_EQ(testing::program::RunTool(args, Env(), folder()), 0) << args[0];
    }
    int32_t MakePackage(int version, const std::map<std::string, std::string>& files) {
        return testing::program::MakeServedPackage(folder(), Env(), version, files);
    }
    // The client at 2003, its manifest at address offering version 2004.
    void Prepare(const std::string& address, const std::string& base, int32_t size) {
        WriteWholeFile(folder() + "/www/upgrade.xml",
                       "<?xml version=\"1.0\"?>\n<versions SrcPath=\"" + base +
                           "\">\n<version ID=\"2004\" CABSIZE=\"" + std::to_string(size) +
                           "\"/>\n</versions>\n");
        WriteWholeFile(client() + "/readme.txt", "2003");
        ClientSettings::WriteInstalledVersion(2003);
        Tool({"reg", "set", "EXEPATH", "sz", client() + "/pelmo.exe"});
        Tool({"reg", "set", "UPGRADECFGFILE", "sz", address});
    }
    std::unique_ptr<ProgramRun> Start(const std::string& name) {
        return std::make_unique<ProgramRun>(std::vector<std::string>{UpgraderPath(), "--console"},
                                            Env(), folder() + "/" + name);
    }
    // The client entirely at 2004, with nothing of the installation left over.
    void ExpectInstalledWhole(const std::map<std::string, std::string>& files) {
        EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2004);
        for (const auto& [name, text] : files)
            ASSERT_EQ(ReadWholeFile(client() + "/" + name), text);
        for (const auto& entry : fs::recursive_directory_iterator(client()))
            EXPECT_EQ(entry.path().string().find(".pelmo-"), std::string::npos) << entry.path();
        EXPECT_FALSE(fs::exists(work() + "/install.journal"));
    }
    PrivateEnvironment environment;
};

TEST_F(UpgradeRunFaults, AKillDuringTheWritingOfAVersionIsUndoneAndTheNextRunInstallsIt) {
    std::map<std::string, std::string> files;
    std::mt19937 random(7);
    for (int i = 0; i < 800; ++i)
        files["d" + std::to_string(i % 30) + "/f" + std::to_string(i) + ".txt"] =
            std::string(2000 + random() % 3000, static_cast<char>('a' + i % 26));
    files["readme.txt"] = "2004";
    const int32_t size = MakePackage(2004, files);
    TestHttpServer server(folder() + "/www");
    Prepare(server.Url("/upgrade.xml"), server.Url("/"), size);

    auto first = Start("first.txt");
    // Killed while the version's files are being written.
    ASSERT_TRUE(testing::WaitUntil([&] { return fs::exists(work() + "/install.journal"); }, 30s,
                                   std::chrono::milliseconds(1)))
        << first->Output();
    ::kill(first->pid(), SIGKILL);
    first->Wait();
    EXPECT_TRUE(fs::exists(work() + "/install.journal")) << "killed half-way";
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2003);

    auto second = Start("second.txt");
    EXPECT_EQ(second->Wait(60s), 0) << second->Output();
    ExpectInstalledWhole(files);
    EXPECT_FALSE(fs::exists(work() + "/2004.cab")) << "installed packages leave the work folder";
    EXPECT_FALSE(fs::exists(work() + "/2004.pak"));
}

TEST_F(UpgradeRunFaults, AKillAfterTheRenamesIsFinishedByTheNextStart) {
    // The post-install program kills the upgrader the first time it runs.
    const std::string program = "#!/bin/sh\n[ -e '" + folder() + "/killed' ] || { touch '" +
                                folder() + "/killed'; kill -9 $PPID; sleep 5; }\necho ran >> '" +
                                folder() + "/ran.txt'\n";
    const std::map<std::string, std::string> files = {
        {"readme.txt", "2004"}, {"skins/b.ini", "b"}, {"PelmoUpgrade.exe", program}};
    const int32_t size = MakePackage(2004, files);
    TestHttpServer server(folder() + "/www");
    Prepare(server.Url("/upgrade.xml"), server.Url("/"), size);

    auto first = Start("first.txt");
    first->Wait(60s);
    EXPECT_TRUE(fs::exists(folder() + "/killed")) << first->Output();
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2003);

    // The next start runs the program (whose first run was cut), records
    // 2004, then finds nothing newer.
    auto second = Start("second.txt");
    EXPECT_EQ(second->Wait(60s), 1) << second->Output();
    EXPECT_NE(second->Output().find("[Pelmo] 没有新版本,请退出!"), std::string::npos);
    ExpectInstalledWhole({{"readme.txt", "2004"}, {"skins/b.ini", "b"}});
    EXPECT_EQ(ReadWholeFile(folder() + "/ran.txt"), "ran\n");
    EXPECT_FALSE(fs::exists(client() + "/PelmoUpgrade.exe"));
}

// SIGINT while a transfer waits or flows ends the process within 2 s, with
// nothing installed and no partial package left.
TEST_F(UpgradeRunFaults, AStopDuringATransferEndsTheRunAtOnce) {
    std::string noise(3 << 20, '\0');
    std::mt19937 random(3);
    for (char& c : noise) c = static_cast<char>(random());
    const int32_t size = MakePackage(2004, {{"readme.txt", "2004"}, {"big.bin", noise}});
    TestHttpServer server(folder() + "/www", {"--fault", "/upgrade.xml=stall-headers", "--fault",
                                              "/2004.cab=slow:300000"});
    Prepare(server.Url("/upgrade.xml"), server.Url("/"), size);
    for (const char* point : {"==> 1.", "3.下载升级包文件 ("}) {
        if (std::string(point) != "==> 1.") {
            Tool({"reg", "set", "UPGRADECFGFILE", "sz", folder() + "/www/upgrade.xml"});
        }
        auto run = Start("stop.txt");
        ASSERT_TRUE(run->WaitForOutput(point, 20s)) << run->Output();
        std::this_thread::sleep_for(300ms);
        ::kill(run->pid(), SIGINT);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run->Wait(5s), 1) << point;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << point;
        EXPECT_NE(run->Output().find("stopping…"), std::string::npos) << run->Output();
    }
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2003);
    EXPECT_EQ(ReadWholeFile(client() + "/readme.txt"), "2003");
    // No package, only the partial download kept for the next run.
    EXPECT_FALSE(fs::exists(work() + "/2004.cab"));
    EXPECT_TRUE(fs::exists(work() + "/2004.cab.part"));
}

// The line under the message box says why; the log keeps it too.
TEST_F(UpgradeRunFaults, EachFailureShowsItsCause) {
    TestHttpServer server(folder() + "/www");
    Prepare(server.Url("/upgrade.xml"), server.Url("/"), 100);
    WriteWholeFile(folder() + "/www/bad.xml", "<?xml version=\"1.0\"?>\n<versions>\n<version>\n");
    const std::string closed = "http://127.0.0.1:1/upgrade.xml";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {closed, "cannot fetch " + closed + ": "},
        {server.Url("/missing.xml"), "HTTP status 404"},
        {server.Url("/bad.xml"), "not well-formed"},
        {folder() + "/nowhere.xml", "No such file or directory"},
        {server.Url("/upgrade.xml"), "cannot fetch " + server.Url("/2004.cab") + ": "}};
    for (const auto& [address, cause] : cases) {
        Tool({"reg", "set", "UPGRADECFGFILE", "sz", address});
        auto run = Start("run.txt");
        EXPECT_EQ(run->Wait(), 1);
        const std::string output = run->Output();
        const auto box = output.find("[Pelmo] ");
        ASSERT_NE(box, std::string::npos) << output;
        const auto next = output.find('\n', box) + 1;
        EXPECT_EQ(output.substr(next, 2), "  ") << output;
        EXPECT_NE(output.find(cause, next), std::string::npos) << cause << "\n" << output;
        EXPECT_NE(ReadWholeFile(folder() + "/pelmo/upgrade.log").find(cause), std::string::npos);
    }
}

}  // namespace
}  // namespace pelmo
