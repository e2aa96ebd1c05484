// Whole runs of pelmo-upgrader --console for a client that ships its
// publisher's key (pelmo-upgrade.pub): a release signed with minisign
// installs, and every tampered or unsigned variant of it stops at the right
// step with the right text, installing nothing and running nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "settings/client_settings.h"
#include "tests/support/shell_command.h"
#include "trust/sha256.h"
#include "upgrade_app_process.h"

namespace pelmo {
namespace {

namespace fs = std::filesystem;
using namespace testing::program;
using testing::RunShell;

const std::string CONFIG_UNTRUSTED = "[Pelmo] 升级配置文件签名无效,请联系软件提供商!";
const std::string PACKAGE_UNTRUSTED = "[Pelmo] 升级包文件校验失败,请联系软件提供商!";
const std::string STEP3 = "==> 3.下载升级包文件";

class SignedRelease : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TMPDIR", folder().c_str(), 1);
        fs::create_directories(www());
        server_ = std::make_unique<testing::TestHttpServer>(www());
        for (const int version : {2004, 2005}) {
            const std::string content = folder() + "/content/" + std::to_string(version);
            WriteWholeFile(content + "/readme.txt", std::to_string(version));
            if (version == 2005) {
                WriteWholeFile(content + "/PelmoUpgrade.exe",
                               "#!/bin/sh\ntouch '" + folder() + "/post_install_ran'\n");
            }
            const std::string pak = folder() + "/" + std::to_string(version) + ".pak";
            ASSERT_EQ(Tool("pak pack " + content + " " + pak), 0);
            ASSERT_EQ(Tool("cab create --codec mszip -o " + www() + "/" + std::to_string(version) +
                           ".cab " + pak),
                      0);
        }
        ASSERT_EQ(Shell("minisign -G -W -p publisher.pub -s publisher.key"), 0);
        WriteWholeFile(client() + "/readme.txt", "2003");
        fs::copy_file(folder() + "/publisher.pub", client() + "/pelmo-upgrade.pub");
        ClientSettings::WriteInstalledVersion(2003);
        ASSERT_EQ(Tool("reg set EXEPATH sz " + client() + "/pelmo.exe"), 0);
        ASSERT_EQ(Tool("reg set UPGRADECFGFILE sz " + server_->Url() + "upgrade.xml"), 0);
    }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    std::string folder() const { return environment_.folder(); }
    std::string www() const { return folder() + "/www"; }
    std::string client() const { return folder() + "/client"; }
    int Shell(const std::string& command) {
        return RunShell("cd " + folder() + " && " + command).status;
    }
    int Tool(const std::string& arguments) { return Shell(ToolPath() + " " + arguments); }

    // The manifest for both packages, each with its SHA256 unless left out,
    // signed with minisign's key.
    void Publish(bool hash2005 = true) {
        std::string manifest =
            "<?xml version=\"1.0\"?>\n<versions SrcPath=\"" + server_->Url() + "\">\n";
        for (const int version : {2004, 2005}) {
            const std::string cab = www() + "/" + std::to_string(version) + ".cab";
            std::string hash;
            ASSERT_TRUE(trust::Sha256OfFile(cab, hash, nullptr));
            manifest += "<version ID=\"" + std::to_string(version) + "\" CABSIZE=\"" +
                        std::to_string(fs::file_size(cab)) + "\"";
            if (version == 2004 || hash2005) manifest += " SHA256=\"" + hash + "\"";
            manifest += "/>\n";
        }
        WriteWholeFile(www() + "/upgrade.xml", manifest + "</versions>\n");
        ASSERT_EQ(Shell("minisign -S -W -s publisher.key -m www/upgrade.xml"), 0);
    }

    // One console run that must fail: its output, with nothing installed.
    std::string RunRefused() {
        ProgramRun run({UpgraderPath(), "--console"}, {}, folder() + "/run.txt");
        EXPECT_EQ(run.Wait(), 1) << run.Output();
        EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2003);
        EXPECT_EQ(ReadWholeFile(client() + "/readme.txt"), "2003");
        EXPECT_FALSE(fs::exists(folder() + "/post_install_ran"));
        return run.Output();
    }

    testing::PrivateEnvironment environment_;
    std::unique_ptr<testing::TestHttpServer> server_;
};

TEST_F(SignedRelease, TamperedReleasesStopAtTheirStepThenTheSignedOneInstalls) {
    Publish();
    const std::string manifest = ReadWholeFile(www() + "/upgrade.xml");
    const std::string signature = ReadWholeFile(www() + "/upgrade.xml.minisig");

    // Step 1: one changed manifest byte.
    std::string changed = manifest;
    changed[changed.find("2004")] = '3';
    WriteWholeFile(www() + "/upgrade.xml", changed);
    std::string output = RunRefused();
    EXPECT_NE(output.find(CONFIG_UNTRUSTED), std::string::npos) << output;
    EXPECT_EQ(output.find(STEP3), std::string::npos) << output;
    WriteWholeFile(www() + "/upgrade.xml", manifest);

    // Step 1: no signature; a signature by another key; a key file that is
    // not a key.
    fs::remove(www() + "/upgrade.xml.minisig");
    EXPECT_NE(RunRefused().find(CONFIG_UNTRUSTED), std::string::npos);
    ASSERT_EQ(Tool("key generate --no-password -p other.pub -s other.key"), 0);
    ASSERT_EQ(Tool("sign -s other.key www/upgrade.xml"), 0);
    EXPECT_NE(RunRefused().find(CONFIG_UNTRUSTED), std::string::npos);
    WriteWholeFile(www() + "/upgrade.xml.minisig", signature);
    WriteWholeFile(client() + "/pelmo-upgrade.pub", "not a key\n");
    EXPECT_NE(RunRefused().find(CONFIG_UNTRUSTED), std::string::npos);
    fs::copy_file(folder() + "/publisher.pub", client() + "/pelmo-upgrade.pub",
                  fs::copy_options::overwrite_existing);

    // Step 1: a properly signed manifest whose newest version has no SHA256.
    Publish(false);
    EXPECT_NE(RunRefused().find(CONFIG_UNTRUSTED), std::string::npos);
    Publish();

    // Step 3: one changed package byte; the package of another signed
    // version in its place. The refused package does not stay.
    const std::string package = ReadWholeFile(www() + "/2005.cab");
    std::string flipped = package;
    flipped[flipped.size() / 2] ^= 0x40;
    for (const std::string& swapped : {flipped, ReadWholeFile(www() + "/2004.cab")}) {
        WriteWholeFile(www() + "/2005.cab", swapped);
        output = RunRefused();
        EXPECT_NE(output.find(STEP3), std::string::npos) << output;
        EXPECT_NE(output.find(PACKAGE_UNTRUSTED), std::string::npos) << output;
        EXPECT_FALSE(fs::exists(folder() + "/PELMO_UPGRADE/2005.cab"));
    }
    WriteWholeFile(www() + "/2005.cab", package);

    ProgramRun run({UpgraderPath(), "--console"}, {}, folder() + "/run.txt");
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2005);
    EXPECT_EQ(ReadWholeFile(client() + "/readme.txt"), "2005");
    EXPECT_TRUE(fs::exists(folder() + "/post_install_ran"));
}

}  // namespace
}  // namespace pelmo
