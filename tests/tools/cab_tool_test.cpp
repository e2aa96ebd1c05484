// pelmo-tool cab, run as a real child process on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/writer/cabinet_writer.h"
#include "tests/support/file_contents.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using pelmo::testing::ReadWholeFile;
using pelmo::testing::ScratchFolder;
using pelmo::testing::WriteWholeFile;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Bytes(size_t size, unsigned seed) {
    std::string s(size, '\0');
    unsigned x = seed;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

class CabTool : public ::testing::Test {
  protected:
    ToolRun Tool(const std::string& arguments) {
        const std::string command = std::string(PELMO_BINARY_DIR) + "/tools/pelmo-tool cab " +
                                    arguments + " >" + (dir_ / "stdout").string() + " 2>" +
                                    (dir_ / "stderr").string();
        ToolRun run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadWholeFile(dir_ / "stdout");
        run.err = ReadWholeFile(dir_ / "stderr");
        return run;
    }

    // dir_/name: one stored folder holding files (what is stored of each, and
    // its content), in order.
    void WriteStoredCabinet(
        const std::string& name,
        const std::vector<std::pair<cab::CabinetFileInfo, std::string>>& files) {
        cab::CabinetWriterOptions options;
        options.directory = dir_.string();
        options.cabinetName = [name](int) { return name; };
        cab::CabinetWriter writer(options);
        ASSERT_TRUE(writer.StartFolder([] { return cab::MakeStoredEncoder(); }));
        for (const auto& [info, content] : files) {
            ASSERT_TRUE(writer.AddFile(info, reinterpret_cast<const uint8_t*>(content.data()),
                                       content.size()));
        }
        ASSERT_TRUE(writer.Finish());
    }

    // A source tree with subfolders, an empty file and a file of several blocks.
    void MakeTree(const fs::path& root) {
        WriteWholeFile(root / "a.bin", Bytes(100000, 1));
        WriteWholeFile(root / "sub/b.txt", "hello\n");
        WriteWholeFile(root / "sub/deeper/c", Bytes(70000, 2));
        WriteWholeFile(root / "empty", "");
    }

    void ExpectSameTree(const fs::path& expected, const fs::path& actual) {
        size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(expected)) {
            if (!entry.is_regular_file()) continue;
            files += 1;
            const fs::path other = actual / fs::relative(entry.path(), expected);
            EXPECT_EQ(ReadWholeFile(entry.path()), ReadWholeFile(other)) << other;
        }
        size_t actualFiles = 0;
        for (const auto& entry : fs::recursive_directory_iterator(actual)) {
            actualFiles += entry.is_regular_file();
        }
        EXPECT_EQ(files, actualFiles);
    }

    ScratchFolder scratch_;
    fs::path dir_ = scratch_.path();
};

TEST_F(CabTool, CreateListExtractAndTestRoundTrip) {
    MakeTree(dir_ / "src");
    fs::permissions(dir_ / "src/sub/b.txt", fs::perms::owner_write, fs::perm_options::remove);
    const std::string cab = (dir_ / "x.cab").string();
    ToolRun create = Tool("create -o " + cab + " " + (dir_ / "src").string());
    ASSERT_EQ(create.status, 0) << create.err;

    ToolRun list = Tool("list " + cab);
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("    100000 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" ---a- a.bin\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" r--a- sub\\b.txt\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("sub\\deeper\\c"), std::string::npos);

    ToolRun extract = Tool("extract -d " + (dir_ / "out").string() + " " + cab);
    ASSERT_EQ(extract.status, 0) << extract.err;
    ExpectSameTree(dir_ / "src", dir_ / "out");
    // Date and read-only attribute are applied.
    const auto skew =
        fs::last_write_time(dir_ / "out/a.bin") - fs::last_write_time(dir_ / "src/a.bin");
    EXPECT_LE(std::chrono::abs(skew), std::chrono::seconds(2));  // MS-DOS times count in 2 s steps
    EXPECT_EQ(fs::status(dir_ / "out/sub/b.txt").permissions() & fs::perms::owner_write,
              fs::perms::none);

    // Existing output is replaced, not appended to.
    WriteWholeFile(dir_ / "again/a.bin", std::string(200000, 'z'));
    ASSERT_EQ(Tool("extract -d " + (dir_ / "again").string() + " " + cab).status, 0);
    EXPECT_EQ(ReadWholeFile(dir_ / "again/a.bin"), Bytes(100000, 1));

    ToolRun test = Tool("test " + cab);
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_NE(test.out.find("4 files"), std::string::npos);
}

TEST_F(CabTool, SetsAreCreatedWithinTheMaximumSizeAndExtractedWhole) {
    MakeTree(dir_ / "src");
    WriteWholeFile(dir_ / "src/z_last", Bytes(5000, 3));
    const std::string cab = (dir_ / "set.cab").string();
    ToolRun create = Tool("create --max-size 30000 -o " + cab + " " + (dir_ / "src").string());
    ASSERT_EQ(create.status, 0) << create.err;
    int cabinets = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.path().extension() == ".cab") {
            cabinets += 1;
            EXPECT_LE(fs::file_size(entry.path()), 30000u);
        }
    }
    EXPECT_GE(cabinets, 6);
    ToolRun extract = Tool("extract -d " + (dir_ / "out").string() + " " + cab);
    ASSERT_EQ(extract.status, 0) << extract.err;
    ExpectSameTree(dir_ / "src", dir_ / "out");

    // A missing member of the set stops the extraction with a reason.
    fs::remove(dir_ / "set3.cab");
    ToolRun broken = Tool("extract -d " + (dir_ / "out2").string() + " " + cab);
    EXPECT_NE(broken.status, 0);
    EXPECT_NE(broken.err.find("CAB_ERROR_OPEN_FAILED"), std::string::npos) << broken.err;
    EXPECT_EQ(std::count(broken.err.begin(), broken.err.end(), '\n'), 1);
}

TEST_F(CabTool, NamesThatLeaveTheOutputFolderAreRefused) {
    for (const std::string name : {"..\\escape", "/tmp/abs", "a\\..\\..\\up", ""}) {
        SCOPED_TRACE(name);
        cab::CabinetFileInfo fine, bad;
        fine.name = "fine";
        bad.name = name;
        ASSERT_NO_FATAL_FAILURE(WriteStoredCabinet("evil.cab", {{fine, "ok"}, {bad, "bad"}}));
        fs::remove_all(dir_ / "deep");
        ToolRun run =
            Tool("extract -d " + (dir_ / "deep/out").string() + " " + (dir_ / "evil.cab").string());
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("CAB_ERROR_ABORTED"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir_ / "deep/escape"));
        EXPECT_FALSE(fs::exists(dir_ / "up"));
        EXPECT_FALSE(fs::exists("/tmp/abs"));
    }
}

TEST_F(CabTool, BrokenCabinetsFailWithTheLibraryErrorName) {
    MakeTree(dir_ / "src");
    const std::string cab = (dir_ / "x.cab").string();
    ASSERT_EQ(Tool("create -o " + cab + " " + (dir_ / "src/a.bin").string()).status, 0);
    std::string bytes = ReadWholeFile(cab);
    bytes[bytes.size() - 100] ^= 0x40;
    WriteWholeFile(cab, bytes);
    ToolRun test = Tool("test " + cab);
    EXPECT_EQ(test.status, 1);
    EXPECT_NE(test.err.find("CAB_ERROR_CORRUPT"), std::string::npos) << test.err;
    WriteWholeFile(dir_ / "text.cab", "just some text, no cabinet at all");
    ToolRun text = Tool("list " + (dir_ / "text.cab").string());
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("CAB_ERROR_NOT_CABINET"), std::string::npos) << text.err;
}

// A failed extraction leaves what stood at the target as it was, whole, and
// no trace of the file it abandoned; a link at a target is replaced, never
// followed.
TEST_F(CabTool, FailedExtractionKeepsTheOutputFolderAndLinksAreReplaced) {
    WriteWholeFile(dir_ / "big", Bytes(3 << 20, 3));
    const std::string cab = (dir_ / "big.cab").string();
    ASSERT_EQ(Tool("create -o " + cab + " " + (dir_ / "big").string()).status, 0);
    std::string bytes = ReadWholeFile(cab);
    bytes.resize(1 << 20);  // the data stops after about 1 MB
    WriteWholeFile(dir_ / "cut.cab", bytes);
    WriteWholeFile(dir_ / "out/big", "the good old content");
    const ToolRun run = Tool("extract -d " + (dir_ / "out").string() + " " + (dir_ / "cut.cab").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("while extracting 'big': the cabinet is corrupt (CAB_ERROR_CORRUPT)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadWholeFile(dir_ / "out/big"), "the good old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1);

    WriteWholeFile(dir_ / "victim", "not to be touched");
    fs::create_directories(dir_ / "linked");
    fs::create_symlink(dir_ / "victim", dir_ / "linked/big");
    ASSERT_EQ(Tool("extract -d " + (dir_ / "linked").string() + " " + cab).status, 0);
    EXPECT_EQ(ReadWholeFile(dir_ / "victim"), "not to be touched");
    EXPECT_FALSE(fs::is_symlink(dir_ / "linked/big"));
    EXPECT_EQ(ReadWholeFile(dir_ / "linked/big"), Bytes(3 << 20, 3));
}

TEST_F(CabTool, SystemErrorsNameTheFileAndTheReason) {
    MakeTree(dir_ / "src");
    const std::string cab = (dir_ / "x.cab").string();
    ASSERT_EQ(Tool("create -o " + cab + " " + (dir_ / "src").string()).status, 0);
    WriteWholeFile(dir_ / "out/sub", "a file where a folder should be");
    const ToolRun run = Tool("extract -d " + (dir_ / "out").string() + " " + cab);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("while extracting 'sub\\b.txt': cannot create " +
                           (dir_ / "out/sub/b.txt").string() + ": Not a directory"),
              std::string::npos)
        << run.err;
    // A folder standing at a target is not replaced.
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out/a.bin/keep");
    EXPECT_EQ(Tool("extract -d " + (dir_ / "out").string() + " " + cab).status, 1);
    EXPECT_TRUE(fs::exists(dir_ / "out/a.bin/keep"));
}

// A stored date that is no date (30 February) leaves the file's time alone
// instead of turning into a day of March.
TEST_F(CabTool, ImpossibleDatesAreNotApplied) {
    cab::CabinetFileInfo info;
    info.name = "feb30";
    info.date = static_cast<uint16_t>(((2005 - 1980) << 9) | (2 << 5) | 30);
    ASSERT_NO_FATAL_FAILURE(WriteStoredCabinet("dates.cab", {{info, "x"}}));
    const auto before = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    ASSERT_EQ(Tool("extract -d " + (dir_ / "out").string() + " " + (dir_ / "dates.cab").string())
                  .status,
              0);
    EXPECT_GT(fs::last_write_time(dir_ / "out/feb30"), before);
}

TEST_F(CabTool, CreateChecksItsArguments) {
    WriteWholeFile(dir_ / "f", "x");
    const std::string tail = " -o " + (dir_ / "x.cab").string() + " " + (dir_ / "f").string();
    EXPECT_EQ(Tool("create --codec lzx:14" + tail).status, 2);
    EXPECT_EQ(Tool("create --codec lzx:22" + tail).status, 2);
    EXPECT_EQ(Tool("create --codec quantum:9" + tail).status, 2);
    EXPECT_EQ(Tool("create --codec zip" + tail).status, 2);
    EXPECT_EQ(Tool("create --max-size ten" + tail).status, 2);
    EXPECT_EQ(Tool("create " + (dir_ / "f").string()).status, 2);
    EXPECT_EQ(
        Tool("create -o " + (dir_ / "y.cab").string() + " " + (dir_ / "nothing").string()).status,
        1);
    // Codecs whose encoder is missing from the build say so.
    for (const std::string codec : {"lzx:16", "quantum:12"}) {
        ToolRun run = Tool("create --codec " + codec + tail);
        if (run.status != 0) {
            EXPECT_NE(run.err.find("not available"), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(Tool("frobnicate").status, 2);
}

}  // namespace
