// Whole runs of pelmo-upgrader --console on an unreliable network: a run
// killed half way through a package, and a run through a proxy. The manifest
// gives the package's SHA-256, which the resumed download must match.
#include <gtest/gtest.h>
#include <signal.h>

#include "app_test_support.h"
#include "settings/client_settings.h"
#include "trust/sha256.h"
#include "upgrade_app_process.h"

namespace pelmo {
namespace {

using namespace testing::program;
namespace fs = std::filesystem;

// Bytes that do not compress, so that the package is as large as its content.
std::string Noise(std::size_t size) {
    std::string data(size, '\0');
    uint32_t state = 2463534242u;
    for (char& c : data) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        c = static_cast<char>(state);
    }
    return data;
}

class NetworkRunTest : public ::testing::Test {
  protected:
    std::map<std::string, std::string> Env() const {
        return testing::program::FolderEnv(folder());
    }
    std::string folder() const { return environment.folder(); }
    // Package 2004 served by the test server with faults; the client at 2003.
    int32_t Publish(const std::string& content, std::vector<std::string> faults) {
        const int32_t size = testing::program::MakeServedPackage(folder(), Env(), 2004,
                                                                 {{"data.bin", content}});
        std::string hash;
        EXPECT_TRUE(trust::Sha256OfFile(folder() + "/www/2004.cab", hash, nullptr));
        server = std::make_unique<TestHttpServer>(folder() + "/www", faults);
        WriteWholeFile(folder() + "/www/upgrade.xml",
                       "<?xml version=\"1.0\"?>\n<versions SrcPath=\"" + server->Url("/") +
                           "\">\n<version ID=\"2004\" CABSIZE=\"" + std::to_string(size) +
                           "\" SHA256=\"" + hash + "\"/>\n</versions>\n");
        ClientSettings::WriteInstalledVersion(2003);
        EXPECT_EQ(testing::program::RunTool({"reg", "set", "EXEPATH", "sz", folder() + "/c/x.exe"},
                                            Env(), folder()),
                  0);
        EXPECT_EQ(testing::program::RunTool(
                      {"reg", "set", "UPGRADECFGFILE", "sz", server->Url("/upgrade.xml")}, Env(),
                      folder()),
                  0);
        return size;
    }
    PrivateEnvironment environment;
    std::unique_ptr<TestHttpServer> server;
};

TEST_F(NetworkRunTest, AKilledRunLeavesAPartialPackageThatTheNextRunResumes) {
    const std::string content = Noise(3 << 20);
    const int32_t size = Publish(content, {"--fault", "/2004.cab=slow:2000000"});
    const std::string partial = folder() + "/PELMO_UPGRADE/2004.cab.part";
    {
        ProgramRun run({UpgraderPath(), "--console"}, Env(), folder() + "/run1.txt");
        ASSERT_TRUE(testing::WaitUntil(
            [&] {
                std::error_code error;
                return fs::file_size(partial, error) > static_cast<uintmax_t>(size) / 2 && !error;
            },
            std::chrono::seconds(20), std::chrono::milliseconds(5)))
            << run.Output();
        ::kill(run.pid(), SIGKILL);
        run.Wait();
    }
    ProgramRun again({UpgraderPath(), "--console"}, Env(), folder() + "/run2.txt");
    EXPECT_EQ(again.Wait(), 0) << again.Output();
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2004);
    EXPECT_TRUE(ReadWholeFile(folder() + "/c/data.bin") == content);
    // The server notes the killed answer once it sees the connection gone,
    // which may come after the second run.
    std::vector<uint64_t> answers;
    testing::WaitUntil(
        [&] {
            answers = server->AnswerBytes("/2004.cab");
            return answers.size() >= 2;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(20));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_LT(answers[1], static_cast<uint64_t>(size) * 6 / 10);
    EXPECT_EQ(answers[0] + answers[1] >= static_cast<uint64_t>(size), true);
}

TEST_F(NetworkRunTest, ManifestAndPackagesGoThroughTheProxyOfTheEnvironment) {
    Publish("through the proxy", {});
    ProgramRun proxy({"/usr/bin/python3", std::string(PELMO_SOURCE_DIR) +
                                              "/tests/support/forward_proxy.py",
                      folder() + "/proxy.port", folder() + "/proxy.log"},
                     Env(), folder() + "/proxy.txt");
    ASSERT_TRUE(testing::WaitUntil([this] { return fs::exists(folder() + "/proxy.port"); },
                                   std::chrono::seconds(10)));
    const std::string address = "http://127.0.0.1:" + ReadWholeFile(folder() + "/proxy.port");
    // The lower-case form, read by the transfer library, and the upper-case one.
    std::map<std::string, std::string> env = Env();
    env["http_proxy"] = address;
    env.erase("HTTP_PROXY");
    ProgramRun run({UpgraderPath(), "--console"}, env, folder() + "/run1.txt");
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    EXPECT_EQ(ReadWholeFile(folder() + "/c/data.bin"), "through the proxy");
    env.erase("http_proxy");
    env["HTTP_PROXY"] = address;
    ProgramRun again({UpgraderPath(), "--console"}, env, folder() + "/run2.txt");
    EXPECT_EQ(again.Wait(), 1) << again.Output();  // nothing new
    EXPECT_EQ(ReadWholeFile(folder() + "/proxy.log"),
              "GET " + server->Url("/upgrade.xml") + "\nGET " + server->Url("/2004.cab") +
                  "\nGET " + server->Url("/upgrade.xml") + "\n");
}

}  // namespace
}  // namespace pelmo
