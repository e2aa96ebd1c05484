// pelmo-tool manifest, run as a child process against manifests served over
// HTTP and read from local paths.
#include <gtest/gtest.h>

#include "settings/client_settings.h"
#include "tests/support/http_server.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shell_command.h"

namespace pelmo {
namespace {

using testing::ScratchFolder;
using testing::TestHttpServer;

using Outcome = testing::ShellOutcome;

Outcome RunTool(const std::string& arguments) {
    return testing::RunShell(std::string(PELMO_BINARY_DIR "/tools/pelmo-tool manifest ") +
                             arguments);
}

const std::string WORKED_EXAMPLE =
    "<?xml version=\"1.0\"?>\n<versions SrcPath=\"http://updates.example/pelmo\">\n"
    "  <version ID=\"2002\" CABSIZE=\"150000\"/>\n"
    "  <version ID=\"2005\" CABSIZE=\"300000\"/>\n"
    "  <other/>\n"
    "  <version ID=\"2004\" CABSIZE=\"200000\"/>\n"
    "</versions>\n";

class ManifestCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("PELMO_REGISTRY", (folder_ / "registry.db").c_str(), 1);
        folder_.Write("worked.xml", WORKED_EXAMPLE);
        std::string commented = WORKED_EXAMPLE;
        commented.replace(commented.find("<other/>"), 8, "<!-- c -->");
        folder_.Write("commented.xml", commented);
        folder_.Write("nodecl.xml", WORKED_EXAMPLE.substr(WORKED_EXAMPLE.find('\n') + 1));
        server_ = std::make_unique<TestHttpServer>(folder_.path());
    }
    void TearDown() override { ::unsetenv("PELMO_REGISTRY"); }

    ScratchFolder folder_;
    std::unique_ptr<TestHttpServer> server_;
};

TEST_F(ManifestCommand, WorkedExampleOverHttpAndAsAPath) {
    const std::string expected =
        "manifest: accepted\n"
        "signature: none (\n"
        "installed version: 2003\n"
        "package base address: http://updates.example/pelmo\n"
        "to download, in installation order:\n"
        "  2004  200000 bytes  http://updates.example/pelmo/2004.cab\n"
        "  2005  300000 bytes  http://updates.example/pelmo/2005.cab\n"
        "total: 2 packages, 500000 bytes; latest version 2005\n";
    for (const std::string& address : {server_->Url("/worked.xml"), folder_ / "worked.xml"}) {
        Outcome outcome = RunTool("--installed 2003 " + address);
        EXPECT_EQ(outcome.status, 0) << address;
        // The signature line names the address it looked for.
        const std::size_t cause = outcome.output.find("signature: none (") + 17;
        outcome.output.erase(cause, outcome.output.find('\n', cause) - cause);
        EXPECT_EQ(outcome.output, expected) << address;
    }
}

TEST_F(ManifestCommand, RefusedManifestsExitWithOne) {
    for (const std::string name : {"commented.xml", "nodecl.xml", "missing.xml"}) {
        for (const std::string& address : {server_->Url("/") + name, folder_ / name}) {
            const Outcome outcome = RunTool("--installed 2003 " + address);
            EXPECT_EQ(outcome.status, 1) << address;
            EXPECT_EQ(outcome.output.rfind("manifest: refused: ", 0), 0u) << outcome.output;
        }
    }
}

TEST_F(ManifestCommand, InstalledVersionFromTheStoreOrTheCommandLine) {
    ClientSettings::WriteInstalledVersion(2004);
    Outcome outcome = RunTool(server_->Url("/worked.xml"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.output.find("installed version: 2004\n"), std::string::npos);
    EXPECT_NE(outcome.output.find("total: 1 packages, 300000 bytes; latest version 2005\n"),
              std::string::npos)
        << outcome.output;

    outcome = RunTool("--installed 2005 " + server_->Url("/worked.xml"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.output.find("nothing newer than version 2005\n"), std::string::npos);

    outcome = RunTool("--installed -1 " + server_->Url("/worked.xml"));
    EXPECT_NE(outcome.output.find("total: 3 packages, 650000 bytes"), std::string::npos);
}

TEST_F(ManifestCommand, SignedManifestIsReportedAndVerifiedWithAKey) {
    const std::string hash2004(64, 'a'), hash2005(64, 'b');
    std::string hashed = WORKED_EXAMPLE;
    hashed.replace(hashed.find("\"200000\"/>"), 11, "\"200000\" SHA256=\"" + hash2004 + "\"/>");
    hashed.replace(hashed.find("\"300000\"/>"), 11, "\"300000\" SHA256=\"" + hash2005 + "\"/>");
    folder_.Write("signed.xml", hashed);
    const std::string tool = PELMO_BINARY_DIR "/tools/pelmo-tool ";
    const std::string in = "cd " + folder_.path() + " && " + tool;
    ASSERT_EQ(testing::RunShell(in + "key generate --no-password -p k.pub -s k.key").status, 0);
    ASSERT_EQ(testing::RunShell(in + "key generate --no-password -p o.pub -s o.key").status, 0);
    ASSERT_EQ(testing::RunShell(in + "sign -s k.key signed.xml worked.xml").status, 0);
    const std::string address = server_->Url("/signed.xml");

    Outcome outcome = RunTool("--installed 2003 " + address);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.output.find("signature: present, key "), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("2005.cab  sha256 " + hash2005 + "\n"), std::string::npos);

    outcome = RunTool("--installed 2003 -p " + (folder_ / "k.pub") + " " + address);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("signature: verified with key "), std::string::npos);
    // Another key, or a signed manifest without hashes, is refused as a client would.
    outcome = RunTool("--installed 2003 -p " + (folder_ / "o.pub") + " " + address);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.output.find("key id mismatch"), std::string::npos) << outcome.output;
    outcome =
        RunTool("--installed 2003 -p " + (folder_ / "k.pub") + " " + (folder_ / "worked.xml"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.output.find("no SHA256"), std::string::npos) << outcome.output;
}

TEST_F(ManifestCommand, UsageErrors) {
    EXPECT_EQ(RunTool("").status, 2);
    EXPECT_EQ(RunTool("--installed").status, 2);
    EXPECT_EQ(RunTool("--installed x12 a.xml").status, 2);
    EXPECT_EQ(RunTool("--installed 99999999999 a.xml").status, 2);
    EXPECT_EQ(RunTool("a.xml b.xml").status, 2);
    EXPECT_EQ(RunTool("--help").status, 0);
}

}  // namespace
}  // namespace pelmo
