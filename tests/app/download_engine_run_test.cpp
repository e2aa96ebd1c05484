// Steps 1 to 3 of a run driven through the engine with the program's own
// steps, against a manifest and packages served over HTTP.
#include <cstdlib>
#include <filesystem>

#include "app_test_support.h"
#include "settings/client_settings.h"
#include "settings/registry_value.h"
#include "tests/support/http_server.h"
#include "tests/support/scratch_folder.h"

namespace pelmo {
namespace {

using testing::PrivateEnvironment;
using testing::ReadWholeFile;
using testing::RecordingTarget;
using testing::RunToEnd;
using testing::ScratchFolder;
using testing::TestHttpServer;

void WriteManifestAddress(const std::string& address) {
    RegistryValue value(std::string(CLIENT_SETTINGS_KEY) + "UPGRADECFGFILE",
                        RegistryRoot::LocalMachine());
    ASSERT_TRUE(value.OpenForWrite());
    ASSERT_TRUE(value.SetRaw(1, static_cast<uint32_t>(address.size() + 1), address.c_str()));
}

class DownloadEngineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        oldTmpdir_ = old != nullptr ? old : "";
        hadTmpdir_ = old != nullptr;
        ::setenv("TMPDIR", temporary_.path().c_str(), 1);
    }
    void TearDown() override {
        if (hadTmpdir_) {
            ::setenv("TMPDIR", oldTmpdir_.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    PrivateEnvironment environment_;
    ScratchFolder temporary_, published_;
    std::string oldTmpdir_;
    bool hadTmpdir_ = false;
};

TEST_F(DownloadEngineRun, ReachesTheInstallStepWithEveryPackageInTheWorkFolder) {
    published_.Write("pkgs/2004.cab", std::string(200000, 'a'));
    published_.Write("pkgs/2005.cab", std::string(300000, 'b'));
    TestHttpServer server(published_.path());
    published_.Write("manifest.xml", "<?xml version=\"1.0\"?>\n<versions SrcPath=\"" +
                                         server.Url("/pkgs") +
                                         "\">\n"
                                         "  <version ID=\"2002\" CABSIZE=\"150000\"/>\n"
                                         "  <version ID=\"2005\" CABSIZE=\"300000\"/>\n"
                                         "  <other/>\n"
                                         "  <version ID=\"2004\" CABSIZE=\"200000\"/>\n"
                                         "</versions>\n");
    ClientSettings::WriteInstalledVersion(2003);
    WriteManifestAddress("  " + server.Url("/manifest.xml") + " ");

    const std::string workFolder = temporary_.path() + "/PELMO_UPGRADE/";
    std::vector<std::string> atInstall;
    UpgradeSteps steps = DefaultUpgradeSteps();
    steps.isClientRunning = [](UpgradeEngine&) { return 0; };
    steps.installPackages = [&](UpgradeEngine& engine) {
        for (const VersionEntry& e : engine.versions) {
            atInstall.push_back(ReadWholeFile(workFolder + std::to_string(e.id) + ".cab"));
        }
        return 0;
    };
    auto engine = std::make_shared<UpgradeEngine>(steps);
    RecordingTarget target;
    ASSERT_TRUE(RunToEnd(engine, target));

    EXPECT_EQ(target.codes(), (std::vector<int>{WM_UPGRADE_FETCHING_CONFIG,
                                                WM_UPGRADE_CHECKING_VERSION, WM_UPGRADE_DOWNLOADING,
                                                WM_UPGRADE_INSTALLING, WM_UPGRADE_INSTALL_FAILED}));
    EXPECT_EQ(atInstall,
              (std::vector<std::string>{std::string(200000, 'a'), std::string(300000, 'b')}));
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"GET /manifest.xml", "GET /pkgs/2004.cab",
                                        "GET /pkgs/2005.cab"}));
    EXPECT_EQ(engine->totalDownloadBytes.load(), 500000);
    EXPECT_EQ(engine->completedPackageBytes.load(), 500000);
    EXPECT_EQ(engine->latestVersion, 2005);
    const auto progress = target.progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::vector<float>{300000.f, 300000.f, 300000.f, 200000.f}));
}

TEST_F(DownloadEngineRun, ManifestFailureAndNothingNewer) {
    published_.Write("old.xml",
                     "<?xml version=\"1.0\"?><versions SrcPath=\"x\">"
                     "<version ID=\"2003\" CABSIZE=\"1\"/></versions>");
    TestHttpServer server(published_.path());
    ClientSettings::WriteInstalledVersion(2003);
    for (const auto& [address, expected] : std::vector<std::pair<std::string, std::vector<int>>>{
             {server.Url("/missing.xml"), {WM_UPGRADE_FETCHING_CONFIG, WM_UPGRADE_CONFIG_FAILED}},
             {server.Url("/old.xml"),
              {WM_UPGRADE_FETCHING_CONFIG, WM_UPGRADE_CHECKING_VERSION,
               WM_UPGRADE_NO_NEW_VERSION}}}) {
        WriteManifestAddress(address);
        auto engine = std::make_shared<UpgradeEngine>();
        RecordingTarget target;
        ASSERT_TRUE(RunToEnd(engine, target));
        EXPECT_EQ(target.codes(), expected) << address;
    }
}

}  // namespace
}  // namespace pelmo
