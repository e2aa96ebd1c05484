// A whole run of pelmo-upgrader --console against a real local server: two
// packages made with pelmo-tool, served on 127.0.0.1.
#include <gtest/gtest.h>

#include "app_test_support.h"
#include "platform/registry_store.h"
#include "settings/client_settings.h"
#include "upgrade_app_process.h"

namespace pelmo {
namespace {

using namespace testing::program;
namespace fs = std::filesystem;

class ConsoleRunTest : public ::testing::Test {
  protected:
    std::map<std::string, std::string> Env() const {
        return testing::program::FolderEnv(folder());
    }
    std::string folder() const { return environment.folder(); }
    int Tool(const std::vector<std::string>& args) {
        return testing::program::RunTool(args, Env(), folder());
    }
    int32_t MakePackage(int version, const std::map<std::string, std::string>& files) {
        return testing::program::MakeServedPackage(folder(), Env(), version, files);
    }
    PrivateEnvironment environment;
};

TEST_F(ConsoleRunTest, UpgradesTwoVersionsFromALocalServerThenFindsNothingNew) {
    const int32_t size2004 = MakePackage(2004, {{"readme.txt", "2004"}, {"data/a.txt", "a"}});
    const int32_t size2005 = MakePackage(2005, {{"readme.txt", "2005"}, {"skins/b.ini", "b"}});
    ProgramRun server({"/usr/bin/python3", std::string(PELMO_SOURCE_DIR) + "/demo/serve.py",
                       folder() + "/www", folder() + "/port"},
                      Env(), folder() + "/server.txt");
    testing::WaitUntil([this] { return fs::exists(folder() + "/port"); }, std::chrono::seconds(5));
    const std::string base = "http://127.0.0.1:" + ReadWholeFile(folder() + "/port");
    WriteWholeFile(folder() + "/www/upgrade.xml",
                   "<?xml version=\"1.0\"?>\n<versions SrcPath=\"" + base +
                       "\">\n<version ID=\"2004\" CABSIZE=\"" + std::to_string(size2004) +
                       "\"/>\n<version ID=\"2005\" CABSIZE=\"" + std::to_string(size2005) +
                       "\"/>\n</versions>\n");
    const std::string client = folder() + "/client";
    WriteWholeFile(client + "/readme.txt", "2003");
    ClientSettings::WriteInstalledVersion(2003);
    ASSERT_EQ(Tool({"reg", "set", "EXEPATH", "sz", client + "/pelmo.exe"}), 0);
    ASSERT_EQ(Tool({"reg", "set", "UPGRADECFGFILE", "sz", base + "/upgrade.xml"}), 0);

    ProgramRun run({UpgraderPath(), "--console"}, Env(), folder() + "/run.txt");
    const int status = run.Wait();
    EXPECT_NE(ReadWholeFile(folder() + "/server.txt").find("GET /upgrade.xml"), std::string::npos);
    EXPECT_EQ(status, 0) << run.Output();
    const std::string output = run.Output();
    size_t at = 0;
    for (const char* step : {"==> 1.下载升级配置文件", "==> 2.检查当前版本", "==> 3.下载升级包文件",
                             "3.下载升级包文件 (", "==> 4.升级当前版本",
                             "==> 5.升级完成,重新启动Pelmo", "升级进度:100%"}) {
        at = output.find(step, at);
        ASSERT_NE(at, std::string::npos) << step << "\n" << output;
    }
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2005);
    EXPECT_EQ(ReadWholeFile(client + "/readme.txt"), "2005");
    EXPECT_EQ(ReadWholeFile(client + "/skins/b.ini"), "b");

    ProgramRun again({UpgraderPath(), "--console"}, Env(), folder() + "/again.txt");
    EXPECT_EQ(again.Wait(), 1);
    EXPECT_NE(again.Output().find("[Pelmo] 没有新版本,请退出!"), std::string::npos);
}

}  // namespace
}  // namespace pelmo
