// pelmo-tool publish and publish check, run as child processes on real
// folders, with the published tree served over HTTP on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/support/file_contents.h"
#include "tests/support/http_server.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shell_command.h"

namespace pelmo {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::TestHttpServer;
using testing::WriteWholeFile;

using Outcome = testing::ShellOutcome;

Outcome Publish(const std::string& arguments) {
    return testing::RunShell(PELMO_BINARY_DIR "/tools/pelmo-tool publish " + arguments);
}

// Every file of a folder with its content and modification time.
std::map<std::string, std::pair<std::string, long long>> Snapshot(const std::string& folder) {
    std::map<std::string, std::pair<std::string, long long>> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.path().filename() == ".requests.log") continue;
        struct stat st {};
        ::stat(entry.path().c_str(), &st);
        files[entry.path().filename().string()] = {
            ReadWholeFile(entry.path()), st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }
    return files;
}

class PublishCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteWholeFile(releases_ + "/2003/readme.txt", "2003");
        WriteWholeFile(releases_ + "/2004/readme.txt", "2004");
        WriteWholeFile(releases_ + "/2004/data/a.txt", std::string(50000, 'a'));
        WriteWholeFile(releases_ + "/2005/readme.txt", "2005");
        WriteWholeFile(releases_ + "/2005/skins/blue.ini", "[blue]");
        fs::create_directories(out_);
    }
    Outcome PublishAll(const std::string& extra = "") {
        return Publish("--codec mszip " + extra + " --base-url http://127.0.0.1:1/p " + releases_ +
                       " " + out_);
    }

    ScratchFolder folder_;
    std::string releases_ = folder_ / "releases";
    std::string out_ = folder_ / "www";
};

TEST_F(PublishCommand, RepublishingRebuildsOnlyWhatChangedAndPrunesOnlyWhenAsked) {
    ASSERT_EQ(PublishAll().status, 0);
    const auto first = Snapshot(out_);
    EXPECT_NE(
        first.at("versions.xml")
            .first.find(
                "<versions SrcPath=\"http://127.0.0.1:1/p\">\n  <version ID=\"2003\" CABSIZE=\"" +
                std::to_string(first.at("2003.cab").first.size()) + "\" SHA256=\""),
        std::string::npos);
    Outcome again = PublishAll();
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(Snapshot(out_), first) << "nothing changed, nothing may be touched";

    WriteWholeFile(releases_ + "/2004/readme.txt", "2004, mended");
    again = PublishAll();
    EXPECT_NE(again.output.find("2004: built"), std::string::npos) << again.output;
    EXPECT_EQ(again.output.find("2003: built"), std::string::npos) << again.output;
    auto now = Snapshot(out_);
    EXPECT_NE(now.at("2004.cab"), first.at("2004.cab"));
    EXPECT_EQ(now.at("2003.cab"), first.at("2003.cab"));
    EXPECT_EQ(now.at("2005.cab"), first.at("2005.cab"));

    again = Publish("--codec none --base-url http://127.0.0.1:1/p " + releases_ + " " + out_);
    EXPECT_NE(again.output.find("2003: built"), std::string::npos) << "another codec rebuilds";
    EXPECT_GT(Snapshot(out_).at("2004.cab").first.size(), now.at("2004.cab").first.size());
    ASSERT_EQ(PublishAll().status, 0);

    fs::remove_all(releases_ + "/2005");
    EXPECT_EQ(PublishAll().status, 0);
    EXPECT_NE(ReadWholeFile(out_ + "/versions.xml").find("ID=\"2005\""), std::string::npos);
    EXPECT_TRUE(fs::exists(out_ + "/2005.cab"));
    EXPECT_EQ(PublishAll("--prune").status, 0);
    EXPECT_EQ(ReadWholeFile(out_ + "/versions.xml").find("ID=\"2005\""), std::string::npos);
    EXPECT_FALSE(fs::exists(out_ + "/2005.cab"));
    now = Snapshot(out_);
    EXPECT_EQ(now.size(), 4u) << "2003.cab, 2004.cab, the manifest and the record";
}

TEST_F(PublishCommand, CheckPassesOnAGoodSignedTreeAndNamesWhatWasTamperedWith) {
    const std::string key = folder_ / "release.key", pub = folder_ / "release.pub";
    ASSERT_EQ(std::system(("minisign -G -W -p " + pub + " -s " + key + " > /dev/null").c_str()), 0);
    TestHttpServer server(out_);
    ASSERT_EQ(
        Publish("--sign " + key + " --base-url " + server.Url("/") + " " + releases_ + " " + out_)
            .status,
        0);
    EXPECT_EQ(std::system(("minisign -Vqm " + out_ + "/versions.xml -p " + pub).c_str()), 0);
    const std::string manifest = server.Url("/versions.xml");
    Outcome check = Publish("check --installed 2003 -p " + pub + " " + manifest);
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("signature verified with key"), std::string::npos);
    EXPECT_NE(check.output.find("skins/blue.ini"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("data/a.txt"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("check: passed"), std::string::npos) << check.output;

    const std::string signature = ReadWholeFile(out_ + "/versions.xml.minisig");
    std::string forged = signature;
    forged.replace(forged.find("timestamp:"), 10, "timestamp:1");
    WriteWholeFile(out_ + "/versions.xml.minisig", forged);
    check = Publish("check --installed 2003 -p " + pub + " " + manifest);
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find("check: FAILED: manifest: refused: manifest signature refused"),
              std::string::npos)
        << check.output;
    WriteWholeFile(out_ + "/versions.xml.minisig", signature);

    std::string cabinet = ReadWholeFile(out_ + "/2005.cab");
    cabinet[cabinet.size() - 10] ^= 0x20;
    WriteWholeFile(out_ + "/2005.cab", cabinet);
    check = Publish("check --installed 2003 -p " + pub + " " + manifest);
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find("check: FAILED: 2005: "), std::string::npos) << check.output;

    fs::remove(out_ + "/2004.cab");
    check = Publish("check --installed 2003 -p " + pub + " " + manifest);
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find("check: FAILED: 2004: cannot fetch"), std::string::npos)
        << check.output;
}

TEST_F(PublishCommand, BadInputIsNamedAndLeavesTheOutputFolderAsItWas) {
    ASSERT_EQ(PublishAll().status, 0);
    const auto before = Snapshot(out_);
    const std::string good = releases_;
    const auto refused = [&](const std::string& arguments, const std::string& message) {
        const Outcome outcome = Publish(arguments);
        EXPECT_EQ(outcome.status, 1) << arguments;
        EXPECT_NE(outcome.output.find(message), std::string::npos) << outcome.output;
        EXPECT_EQ(Snapshot(out_), before) << arguments;
    };
    const auto release = [&](const std::string& name, const std::string& file) {
        const std::string root =
            folder_ / ("bad-" + std::to_string(std::hash<std::string>{}(name)));
        fs::create_directories(root + "/" + name);
        if (!file.empty()) WriteWholeFile(root + "/" + name + "/" + file, "x");
        return root;
    };
    const std::string tail = " " + out_;
    refused("--base-url http://h/ " + release("20x4", "a") + tail, "not a version folder");
    refused("--base-url http://h/ " + release("02004", "a") + tail, "not a version folder");
    refused("--base-url http://h/ " + release("2006", "") + tail, "2006: no files");
    refused("--base-url http://h/ " + release("2007", std::string(40, 'n')) + tail,
            "element names hold 1 to 31");
    refused("--base-url http://h/ " + release("2008", "bad\xff") + tail, "not valid UTF-8");
    fs::create_directories(folder_ / "empty");
    refused("--base-url http://h/ " + (folder_ / "empty") + tail, "no version folders");
    refused("--base-url ftp://h/ " + good + tail, "not an http:// or https://");
    refused("--base-url http://h/?a " + good + tail, "not an http:// or https://");
    refused("--sign " + (folder_ / "missing.key") + " --base-url http://h/ " + good + tail,
            "missing.key");
}

}  // namespace
}  // namespace pelmo
