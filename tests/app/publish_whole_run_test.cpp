// A release made with pelmo-tool publish --sign and a key made by minisign,
// served on 127.0.0.1, upgrades a client that ships the public key from its
// first version to its last in one run of the upgrader.
#include <gtest/gtest.h>

#include "settings/client_settings.h"
#include "upgrade_app_process.h"

namespace pelmo {
namespace {

using namespace testing::program;

TEST(PublishWholeRun, ASignedReleaseUpgradesAClientThatTrustsTheKeyFromFirstToLast) {
    PrivateEnvironment environment;
    const std::string folder = environment.folder();
    const std::map<std::string, std::string> env = {{"PELMO_REGISTRY", folder + "/registry.db"},
                                                    {"XDG_RUNTIME_DIR", folder},
                                                    {"TMPDIR", folder}};
    WriteWholeFile(folder + "/releases/2003/readme.txt", "2003");
    WriteWholeFile(folder + "/releases/2004/readme.txt", "2004");
    WriteWholeFile(folder + "/releases/2004/data/news.txt", "news of 2004");
    WriteWholeFile(folder + "/releases/2005/readme.txt", "2005");
    WriteWholeFile(folder + "/releases/2005/skins/blue.ini", "[blue]");
    const std::string client = folder + "/client";
    std::filesystem::create_directories(client);
    ProgramRun keys({"/usr/bin/minisign", "-G", "-W", "-p", client + "/pelmo-upgrade.pub", "-s",
                     folder + "/release.key"},
                    env, folder + "/minisign.txt");
    ASSERT_EQ(keys.Wait(), 0) << keys.Output();
    std::filesystem::create_directories(folder + "/www");
    TestHttpServer server(folder + "/www");
    ProgramRun publish({ToolPath(), "publish", "--sign", folder + "/release.key", "--base-url",
                        server.Url("/"), folder + "/releases", folder + "/www"},
                       env, folder + "/publish.txt");
    ASSERT_EQ(publish.Wait(), 0) << publish.Output();

    WriteWholeFile(client + "/readme.txt", "2003");
    ClientSettings::WriteInstalledVersion(2003);
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"EXEPATH", client + "/pelmo.exe"},
          {"UPGRADECFGFILE", server.Url("/versions.xml")}}) {
        ProgramRun set({ToolPath(), "reg", "set", name, "sz", value}, env, folder + "/reg.txt");
        ASSERT_EQ(set.Wait(), 0);
    }
    ProgramRun run({UpgraderPath(), "--console"}, env, folder + "/run.txt");
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2005);
    EXPECT_EQ(ReadWholeFile(client + "/readme.txt"), "2005");
    EXPECT_EQ(ReadWholeFile(client + "/data/news.txt"), "news of 2004");
    EXPECT_EQ(ReadWholeFile(client + "/skins/blue.ini"), "[blue]");
}

}  // namespace
}  // namespace pelmo
