// InstallPackages and CopyStorageTree on real package content files, real
// folders and real post-install programs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "install/file_utils.h"
#include "install/install_journal.h"
#include "install/package_installation.h"
#include "install/storage_tree_copy.h"
#include "platform/compound_file_format.h"
#include "platform/compound_file_writer.h"
#include "tests/platform/compound_test_support.h"
#include "tests/support/wait_until.h"

namespace pelmo {
namespace {

using platform::CompoundFileWriter;
using test::ReadFile;
using test::TempFolder;
using testing::WaitUntil;
using test::WriteFile;
namespace fs = std::filesystem;

// No temporary file of an installation anywhere under folder.
void ExpectNoTemporaryFiles(const std::string& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".pelmo-"), std::string::npos)
            << entry.path();
}

class Installation : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(work());
        fs::create_directories(client());
        run_.workFolder = work();
        run_.clientFolder = client();
        run_.modulePath = client() + "/UPD.EXE";
        run_.recordVersion = [this](std::int32_t id) { recorded_.push_back(id); };
        run_.durable = false;
    }
    std::string work() const { return temp_ / "work"; }
    std::string client() const { return temp_ / "client"; }
    void Publish(std::int32_t id, CompoundFileWriter& writer) {
        std::string error;
        ASSERT_TRUE(writer.Write(work() + "/" + std::to_string(id) + ".pak", &error)) << error;
        run_.versions.push_back({id, 1000});
    }
    // A post-install program that notes its current folder and, if asked,
    // sleeps; its process id goes to pid.txt.
    std::string PostInstallScript(const std::string& extra = "") const {
        return "#!/bin/sh\necho $$ > '" + (temp_ / "pid.txt") + "'\npwd >> '" +
               (temp_ / "ran.txt") + "'\n" + extra;
    }
    TempFolder temp_;
    InstallationRun run_;
    std::vector<std::int32_t> recorded_;
};

TEST_F(Installation, CopiesTheTreeAndSkipsTheRunningUpgraderIgnoringCase) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"readme.txt"}, "read me"));
    ASSERT_TRUE(writer.AddStream({"upd.exe"}, "new upgrader"));
    ASSERT_TRUE(writer.AddStream({"bin", "core.dll"}, test::PatternBytes(30000, 1)));
    Publish(3001, writer);
    WriteFile(client() + "/UPD.EXE", "running upgrader");

    EXPECT_EQ(InstallPackages(run_), 1);
    EXPECT_EQ(ReadFile(client() + "/readme.txt"), "read me");
    EXPECT_EQ(ReadFile(client() + "/bin/core.dll"), test::PatternBytes(30000, 1));
    EXPECT_FALSE(fs::exists(client() + "/upd.exe"));
    EXPECT_EQ(ReadFile(client() + "/UPD.EXE"), "running upgrader");
    EXPECT_EQ(recorded_, std::vector<std::int32_t>{3001});
}

TEST_F(Installation, ReplacesFoldersAndReadOnlyFilesAndCreatesMissingFolders) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"was_folder"}, "now a file"));
    ASSERT_TRUE(writer.AddStream({"locked.cfg"}, "new settings"));
    ASSERT_TRUE(writer.AddStream({"empty.log"}, ""));
    ASSERT_TRUE(writer.AddStream({"new", "deeper", "x.txt"}, "x"));
    ASSERT_TRUE(writer.AddStorage({"emptyfolder"}));
    Publish(7, writer);
    WriteFile(client() + "/was_folder/inner/file.txt", "old");
    WriteFile(client() + "/locked.cfg", "old settings");
    fs::permissions(client() + "/locked.cfg", fs::perms::owner_read);
    WriteFile(client() + "/empty.log", "old log");

    EXPECT_EQ(InstallPackages(run_), 1);
    EXPECT_EQ(ReadFile(client() + "/was_folder"), "now a file");
    EXPECT_EQ(ReadFile(client() + "/locked.cfg"), "new settings");
    EXPECT_NE(fs::status(client() + "/locked.cfg").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_TRUE(fs::is_regular_file(client() + "/empty.log"));
    EXPECT_EQ(fs::file_size(client() + "/empty.log"), 0u);
    EXPECT_EQ(ReadFile(client() + "/new/deeper/x.txt"), "x");
    EXPECT_TRUE(fs::is_directory(client() + "/emptyfolder"));
    ExpectNoTemporaryFiles(client());
}

TEST_F(Installation, ProgramsGetExecutePermissionOtherFilesDoNot) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"pelmo.exe"}, std::string("\x7f"
                                                            "ELF\x02\x01\x01",
                                                            7) +
                                                    "rest"));
    ASSERT_TRUE(writer.AddStream({"tool.sh"}, "#!/bin/sh\nexit 0\n"));
    ASSERT_TRUE(writer.AddStream({"data.bin"}, "ELF but not at the start"));
    Publish(8, writer);
    const mode_t mask = ::umask(022);
    EXPECT_EQ(InstallPackages(run_), 1);
    ::umask(mask);
    auto mode = [&](const std::string& name) {
        return fs::status(client() + "/" + name).permissions();
    };
    EXPECT_EQ(mode("pelmo.exe"), static_cast<fs::perms>(0755));
    EXPECT_EQ(mode("tool.sh"), static_cast<fs::perms>(0755));
    EXPECT_EQ(mode("data.bin"), static_cast<fs::perms>(0644));
}

TEST_F(Installation, NamesThatWouldLeaveTheFolderAreSkipped) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({".."}, "escape"));
    ASSERT_TRUE(writer.AddStream({"."}, "dot"));
    ASSERT_TRUE(writer.AddStream({"aXb"}, "slash"));
    ASSERT_TRUE(writer.AddStream({"ok.txt"}, "fine"));
    Publish(9, writer);
    // Patch the name "aXb" into "a/b", which no writer of ours would make.
    const std::string pak = work() + "/9.pak";
    std::string bytes = ReadFile(pak);
    const std::string utf16 = std::string("a\0X\0b\0", 6);
    const auto at = bytes.find(utf16);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2] = '/';
    WriteFile(pak, bytes);

    StorageCopyReport report;
    auto file = platform::CompoundFile::Open(pak);
    ASSERT_TRUE(file);
    CopyStorageTree(file->Root(), client() + "/inner", {}, &report);
    file.reset();
    EXPECT_EQ(report.files, 1u);
    EXPECT_EQ(report.problems.size(), 3u);
    EXPECT_EQ(ReadFile(client() + "/inner/ok.txt"), "fine");
    EXPECT_FALSE(fs::exists(client() + "/a"));
    EXPECT_TRUE(fs::is_directory(client() + "/inner"));
    EXPECT_EQ(test::SnapshotFolder(client()).size(), 2u);  // inner, inner/ok.txt

    EXPECT_EQ(InstallPackages(run_), 1);
    EXPECT_EQ(ReadFile(client() + "/ok.txt"), "fine");
}

TEST_F(Installation, AStreamThatCannotBeReadLeavesTheClientUntouched) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"app.dat"}, test::PatternBytes(20000, 3)));
    ASSERT_TRUE(writer.AddStream({"b.txt"}, "next"));
    Publish(10, writer);
    // Cut the stream's chain after its first sector (the stream starts at
    // sector 0; its allocation entries open the table).
    const std::string pak = work() + "/10.pak";
    std::string bytes = ReadFile(pak);
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t fat = (std::size_t{platform::compound_format::Get32(raw + 76)} + 1) * 512;
    platform::compound_format::Put32(reinterpret_cast<unsigned char*>(bytes.data()) + fat,
                                     0x00FFFFFF);
    WriteFile(pak, bytes);
    WriteFile(client() + "/app.dat", "old content");

    const auto before = test::SnapshotFolder(client());
    std::string reason;
    EXPECT_EQ(InstallPackages(run_, &reason), 0);
    EXPECT_NE(reason.find("app.dat"), std::string::npos) << reason;
    EXPECT_EQ(test::SnapshotFolder(client()), before);
    EXPECT_TRUE(recorded_.empty());
    EXPECT_FALSE(fs::exists(work() + "/install.journal"));
}

TEST_F(Installation, SecondContentMissingKeepsTheFirstInstalledAndRecorded) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"one.txt"}, "1"));
    Publish(2005, writer);
    run_.versions.push_back({2006, 1000});  // no 2006.pak
    WriteFile(work() + "/2007.pak", "not a compound file");
    run_.versions.push_back({2007, 1000});

    EXPECT_EQ(InstallPackages(run_), 0);
    EXPECT_EQ(ReadFile(client() + "/one.txt"), "1");
    EXPECT_EQ(recorded_, std::vector<std::int32_t>{2005});
}

TEST_F(Installation, NoVersionsStillRemovesALeftOverPostInstallProgram) {
    WriteFile(client() + "/PelmoUpgrade.exe", "#!/bin/sh\n");
    EXPECT_EQ(InstallPackages(run_), 1);
    EXPECT_FALSE(fs::exists(client() + "/PelmoUpgrade.exe"));
    EXPECT_TRUE(recorded_.empty());
}

TEST_F(Installation, PostInstallProgramIsWaitedForThenDeleted) {
    CompoundFileWriter writer;
    // Found whatever the letter case of its name.
    ASSERT_TRUE(writer.AddStream({"pelmoupgrade.EXE"}, PostInstallScript("sleep 3\n")));
    Publish(11, writer);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InstallPackages(run_), 1);
    const auto waited = std::chrono::steady_clock::now() - start;
    // About 3 s plus the last pause; far less than the full two minutes.
    EXPECT_GE(waited, std::chrono::milliseconds(3400));
    EXPECT_LT(waited, std::chrono::seconds(30));
    EXPECT_FALSE(fs::exists(client() + "/pelmoupgrade.EXE"));
    // Started once, in the upgrader's own current folder.
    EXPECT_EQ(ReadFile(temp_ / "ran.txt"), fs::current_path().string() + "\n");
    EXPECT_EQ(recorded_, std::vector<std::int32_t>{11});
}

TEST_F(Installation, PostInstallProgramThatNeverEndsIsLeftRunning) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"PelmoUpgrade.exe"}, PostInstallScript("exec sleep 300\n")));
    Publish(12, writer);
    CompoundFileWriter second;
    ASSERT_TRUE(second.AddStream({"two.txt"}, "2"));
    Publish(13, second);
    run_.wait = {3, std::chrono::milliseconds(100)};  // the run waits 241 x 500 ms
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InstallPackages(run_), 1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(400));
    EXPECT_EQ(recorded_, (std::vector<std::int32_t>{12, 13}));
    EXPECT_EQ(ReadFile(client() + "/two.txt"), "2");
    const pid_t pid = std::stoi(ReadFile(temp_ / "pid.txt"));
    EXPECT_EQ(::kill(pid, 0), 0) << "still running";
    ::kill(pid, SIGKILL);
    // Collected once it ends, not left behind as a zombie.
    EXPECT_TRUE(WaitUntil([pid] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(5)));
}

TEST_F(Installation, PostInstallProgramThatCannotStartFailsTheStep) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"PelmoUpgrade.exe"}, "MZ not a program here"));
    ASSERT_TRUE(writer.AddStream({"copied.txt"}, "c"));
    Publish(14, writer);
    std::string reason;
    EXPECT_EQ(InstallPackages(run_, &reason), 0);
    EXPECT_NE(reason.find("neither an ELF program nor a \"#!\" script"), std::string::npos)
        << reason;
    EXPECT_EQ(ReadFile(client() + "/copied.txt"), "c");
    EXPECT_TRUE(fs::exists(client() + "/PelmoUpgrade.exe"));
    EXPECT_TRUE(recorded_.empty());
}

TEST_F(Installation, AFileThatCannotBeWrittenFailsItsVersionAndLeavesTheClientAsItWas) {
    CompoundFileWriter first;
    ASSERT_TRUE(first.AddStream({"readme.txt"}, "one"));
    Publish(21, first);
    CompoundFileWriter second;
    ASSERT_TRUE(second.AddStream({"readme.txt"}, "two"));
    ASSERT_TRUE(second.AddStream({"a", "new", "x.txt"}, "x"));
    ASSERT_TRUE(second.AddStream({"skins", "b.ini"}, "b"));
    ASSERT_TRUE(second.AddStream({"zz.txt"}, "z"));
    Publish(22, second);
    // A file stands where the package needs a folder.
    WriteFile(client() + "/skins", "not a folder");
    std::string reason;
    EXPECT_EQ(InstallPackages(run_, &reason), 0);
    EXPECT_NE(reason.find("skins"), std::string::npos) << reason;
    // 21 stays installed and recorded; nothing of 22 is in the client.
    EXPECT_EQ(recorded_, std::vector<std::int32_t>{21});
    EXPECT_EQ(
        test::SnapshotFolder(client()),
        (std::map<std::string, std::string>{{"readme.txt", "one"}, {"skins", "not a folder"}}));
    EXPECT_FALSE(fs::exists(work() + "/install.journal"));
    EXPECT_FALSE(fs::exists(work() + "/21.pak")) << "an installed version's package goes";
    EXPECT_TRUE(fs::exists(work() + "/22.pak"));
}

TEST_F(Installation, AClientFolderThatIsMissingOrTheRootIsRefused) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"readme.txt"}, "one"));
    Publish(23, writer);
    for (const char* folder : {"", "/", "//"}) {
        run_.clientFolder = folder;
        std::string reason;
        EXPECT_EQ(InstallPackages(run_, &reason), 0) << folder;
        EXPECT_NE(reason.find("EXEPATH"), std::string::npos) << reason;
    }
    EXPECT_FALSE(fs::exists("/readme.txt"));
    EXPECT_TRUE(recorded_.empty());
}

// An interrupted installation, as its journal shows it: a.txt written as a
// temporary file in a folder the installation made, b.txt already renamed.
class Recovery : public Installation {
  protected:
    void Interrupt(bool renaming) {
        InstallJournal journal;
        ASSERT_TRUE(journal.Begin(work() + "/install.journal", 31, nullptr));
        WriteFile(client() + "/a.txt", "old a");
        fs::create_directories(client() + "/made");
        journal.AddFolder(client() + "/made");
        WriteFile(client() + "/made/.a.txt.pelmo-1-0", "new a");
        journal.AddFile(client() + "/made/.a.txt.pelmo-1-0", client() + "/made/a.txt");
        journal.AddFile(client() + "/.b.txt.pelmo-1-1", client() + "/b.txt");
        WriteFile(client() + "/b.txt", "new b");
        WriteFile(client() + "/PelmoUpgrade.exe", PostInstallScript());
        fs::permissions(client() + "/PelmoUpgrade.exe", fs::perms::owner_all);
        if (renaming) {
            ASSERT_TRUE(journal.MarkRenaming(nullptr));
        }
        run_.wait = {3, std::chrono::milliseconds(100)};
    }
};

TEST_F(Recovery, RenamesThatHadBegunAreFinishedAndTheVersionRecorded) {
    Interrupt(true);
    EXPECT_EQ(RecoverInstallation(run_), 1);
    EXPECT_EQ(ReadFile(client() + "/made/a.txt"), "new a");
    EXPECT_EQ(ReadFile(client() + "/b.txt"), "new b");
    EXPECT_TRUE(fs::exists(temp_ / "ran.txt"));
    EXPECT_FALSE(fs::exists(client() + "/PelmoUpgrade.exe"));
    EXPECT_EQ(recorded_, std::vector<std::int32_t>{31});
    EXPECT_FALSE(fs::exists(work() + "/install.journal"));
    ExpectNoTemporaryFiles(client());
    EXPECT_EQ(RecoverInstallation(run_), 1) << "nothing left to do";
    EXPECT_EQ(recorded_.size(), 1u);
}

TEST_F(Recovery, RenamesThatHadNotBegunAreUndone) {
    Interrupt(false);
    EXPECT_EQ(RecoverInstallation(run_), 1);
    EXPECT_FALSE(fs::exists(client() + "/made"));
    EXPECT_EQ(ReadFile(client() + "/a.txt"), "old a");
    EXPECT_FALSE(fs::exists(temp_ / "ran.txt"));
    EXPECT_TRUE(recorded_.empty());
    EXPECT_FALSE(fs::exists(work() + "/install.journal"));
    ExpectNoTemporaryFiles(client());
}

TEST(FileUtils, FileExistsAndDeletePathSilently) {
    TempFolder temp;
    WriteFile(temp / "f", "x");
    WriteFile(temp / "d/inner/g", "y");
    EXPECT_EQ(FileExists(temp / "f"), 1);
    EXPECT_EQ(FileExists(temp / "d"), 0);
    EXPECT_EQ(FileExists(temp / "missing"), 0);
    EXPECT_EQ(DeletePathSilently(temp / "d"), 1);
    EXPECT_FALSE(fs::exists(temp / "d"));
    EXPECT_EQ(DeletePathSilently(temp / "missing"), 0);
    fs::create_symlink(temp / "f", temp / "link");
    EXPECT_EQ(DeletePathSilently(temp / "link"), 1);
    EXPECT_TRUE(fs::exists(temp / "f"));  // links are removed, not followed
}

}  // namespace
}  // namespace pelmo
