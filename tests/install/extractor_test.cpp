// CabinetExtractor on real cabinets made by the writer, extracted into a
// scratch folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "install/cabinet_extractor.h"
#include "tests/support/cabinet_folders.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using pelmo::install::CabinetExtractor;
using pelmo::install::extractionFolder;
using pelmo::testing::CabinetFolder;
using pelmo::testing::ReadWholeFile;
using pelmo::testing::ScratchFolder;
using pelmo::testing::WriteCabinetFolders;
using pelmo::testing::WriteWholeFile;

std::string Sample(size_t size, unsigned seed) {
    std::string out;
    uint32_t state = seed;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        out += "entry " + std::to_string(state % 1000) + (state & 0x100 ? "\n" : " ");
    }
    out.resize(size);
    return out;
}

struct FileSpec {
    std::string name;  // as stored, "\" between folders
    std::string content;
    uint16_t date = 0x21;
    uint16_t time = 0;
    uint16_t attributes = 0x20;
};

class Extractor : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(out_);
        extractor_.SetDestinationFolder(out_.string());
    }

    // One cabinet with a folder per entry of `folders` ("stored" or "mszip"),
    // each holding the files given for it.
    fs::path MakeCabinet(const std::string& name,
                         const std::vector<std::pair<std::string, std::vector<FileSpec>>>& folders,
                         uint32_t maxCabinetSize = 0) {
        cab::CabinetWriterOptions options;
        options.directory = dir_.string();
        options.cabinetName = [name](int index) {
            return index == 0 ? name : name + "." + std::to_string(index);
        };
        options.maxCabinetSize = maxCabinetSize;
        std::vector<CabinetFolder> written;
        for (const auto& [codec, files] : folders) {
            CabinetFolder& folder = written.emplace_back();
            folder.makeEncoder = [codec = codec]() -> std::unique_ptr<cab::FolderEncoder> {
                if (codec == "mszip") return cab::MakeMszipEncoder(6);
                return cab::MakeStoredEncoder();
            };
            for (const FileSpec& file : files) {
                cab::CabinetFileInfo info;
                info.name = file.name;
                info.date = file.date;
                info.time = file.time;
                info.attributes = file.attributes;
                folder.files.push_back({info, reinterpret_cast<const uint8_t*>(file.content.data()),
                                        file.content.size()});
            }
        }
        WriteCabinetFolders(options, written);
        return dir_ / name;
    }

    ScratchFolder scratch_;
    fs::path dir_ = scratch_.path();
    fs::path out_ = dir_ / "out";
    CabinetExtractor extractor_;
};

TEST_F(Extractor, StoredAndMszipFoldersExtractByteExactlyIntoExistingSubfolders) {
    const std::vector<FileSpec> stored = {{"readme.txt", "hello"}, {"empty", ""}};
    const std::vector<FileSpec> mszip = {{"data\\big.bin", Sample(200000, 1)},
                                         {"data\\deeper\\small.txt", Sample(100, 2)},
                                         {"after.txt", Sample(40000, 3)}};
    const fs::path cabinet = MakeCabinet("package.cab", {{"stored", stored}, {"mszip", mszip}});
    fs::create_directories(out_ / "data/deeper");
    ASSERT_EQ(extractor_.Extract(cabinet.string()), 1);
    for (const auto* files : {&stored, &mszip})
        for (const FileSpec& file : *files) {
            std::string path = file.name;
            std::replace(path.begin(), path.end(), '\\', '/');
            EXPECT_EQ(ReadWholeFile(out_ / path), file.content) << path;
        }
}

TEST_F(Extractor, MissingSubfolderAbortsAndKeepsWhatWasWritten) {
    const fs::path cabinet = MakeCabinet(
        "package.cab",
        {{"mszip",
          {{"first.txt", "one"}, {"missing\\second.txt", "two"}, {"third.txt", "three"}}}});
    EXPECT_EQ(extractor_.Extract(cabinet.string()), 0);
    EXPECT_EQ(ReadWholeFile(out_ / "first.txt"), "one");
    EXPECT_FALSE(fs::exists(out_ / "missing"));
    EXPECT_FALSE(fs::exists(out_ / "third.txt"));
}

TEST_F(Extractor, NamesThatWouldLeaveTheFolderAreRefused) {
    fs::create_directories(out_ / "sub");
    for (const std::string name :
         {"..\\escape.txt", "sub\\..\\..\\escape.txt", "/tmp/escape.txt", "\\escape.txt", ".."}) {
        SCOPED_TRACE(name);
        const fs::path cabinet =
            MakeCabinet("evil.cab", {{"stored", {{"fine.txt", "ok"}, {name, "bad"}}}});
        EXPECT_EQ(extractor_.Extract(cabinet.string()), 0);
        EXPECT_EQ(ReadWholeFile(out_ / "fine.txt"), "ok");
        EXPECT_FALSE(fs::exists(dir_ / "escape.txt"));
        EXPECT_FALSE(fs::exists("/tmp/escape.txt"));
    }
    EXPECT_EQ(pelmo::install::ExtractionPath("/w/", "a\\b..c\\..d"), "/w/a/b..c/..d");
    EXPECT_EQ(pelmo::install::ExtractionPath("/w/", ""), "");
    EXPECT_EQ(pelmo::install::ExtractionPath("/w/", std::string(253, 'x').c_str()), "");
    EXPECT_EQ(pelmo::install::ExtractionPath("/w/", std::string(252, 'x').c_str()).size(), 255u);
}

TEST_F(Extractor, ExistingLongerOutputIsTruncated) {
    WriteWholeFile(out_ / "file.txt", std::string(5000, 'o'));
    const fs::path cabinet = MakeCabinet("package.cab", {{"mszip", {{"file.txt", "new"}}}});
    ASSERT_EQ(extractor_.Extract(cabinet.string()), 1);
    EXPECT_EQ(ReadWholeFile(out_ / "file.txt"), "new");
}

TEST_F(Extractor, AttributesKeepOnlyTheReadOnlyBit) {
    const fs::path cabinet = MakeCabinet("package.cab", {{"stored",
                                                          {{"locked.txt", "l", 0x21, 0, 0x00A1},
                                                           {"hidden.txt", "h", 0x21, 0, 0x0026},
                                                           {"run.exe", "r", 0x21, 0, 0x0060}}}});
    ASSERT_EQ(extractor_.Extract(cabinet.string()), 1);
    auto mode = [&](const char* name) {
        struct stat status {};
        EXPECT_EQ(stat((out_ / name).c_str(), &status), 0);
        return status.st_mode & 0777;
    };
    EXPECT_EQ(mode("locked.txt") & 0222, 0u);
    EXPECT_NE(mode("locked.txt") & 0400, 0u);
    EXPECT_NE(mode("hidden.txt") & 0200, 0u);
    EXPECT_NE(mode("run.exe") & 0200, 0u);
}

long long LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
    struct tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return mktime(&local);
}

TEST_F(Extractor, DosDateAndTimeBecomeTheModificationTimeOnly) {
    const uint16_t date = (40 << 9) | (6 << 5) | 15;     // 2020-06-15
    const uint16_t time = (12 << 11) | (34 << 5) | 28;   // 12:34:56
    const uint16_t badDate = (40 << 9) | (13 << 5) | 1;  // month 13
    const uint16_t february30 = (41 << 9) | (2 << 5) | 30;
    const fs::path cabinet =
        MakeCabinet("package.cab", {{"mszip",
                                     {{"dated.txt", "d", date, time, 0x20},
                                      {"undated.txt", "u", badDate, time, 0x21},
                                      {"feb30.txt", "f", february30, 0, 0x20}}}});
    const auto before = std::chrono::system_clock::now();
    ASSERT_EQ(extractor_.Extract(cabinet.string()), 1);

    struct stat status {};
    ASSERT_EQ(stat((out_ / "dated.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, LocalSeconds(2020, 6, 15, 12, 34, 56));
    EXPECT_GT(status.st_atim.tv_sec, LocalSeconds(2021, 1, 1, 0, 0, 0));  // left as written

    // An invalid date leaves the times as writing set them; attributes still apply.
    const long long earliest =
        std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count() - 1;
    for (const char* name : {"undated.txt", "feb30.txt"}) {
        ASSERT_EQ(stat((out_ / name).c_str(), &status), 0);
        EXPECT_GE(status.st_mtim.tv_sec, earliest) << name;
    }
    ASSERT_EQ(stat((out_ / "undated.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0222, 0u);
}

TEST_F(Extractor, FileThatIsNotACabinetWritesNothing) {
    WriteWholeFile(dir_ / "notes.txt", "this is not a cabinet, just text that is long enough");
    EXPECT_EQ(extractor_.Extract((dir_ / "notes.txt").string()), 0);
    EXPECT_EQ(extractor_.Extract((dir_ / "absent.cab").string()), 0);
    EXPECT_TRUE(fs::is_empty(out_));
}

TEST_F(Extractor, BareCabinetNameIsFoundInTheCurrentFolder) {
    const fs::path cabinet = MakeCabinet("bare.cab", {{"mszip", {{"x.txt", "x"}}}});
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    const int result = extractor_.Extract("bare.cab");
    fs::current_path(previous);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(ReadWholeFile(out_ / "x.txt"), "x");
}

TEST_F(Extractor, ACabinetThatNeedsTheNextOneFails) {
    // Split at 50000 bytes: the big file continues into the second cabinet,
    // which is present, yet packages are single cabinets.
    const fs::path cabinet = MakeCabinet(
        "set.cab", {{"stored", {{"a.txt", "first"}, {"b.bin", Sample(100000, 4)}}}}, 50000);
    ASSERT_TRUE(fs::exists(dir_ / "set.cab.1"));
    EXPECT_EQ(extractor_.Extract(cabinet.string()), 0);
    EXPECT_EQ(ReadWholeFile(out_ / "a.txt"), "first");
}

TEST_F(Extractor, DestinationGetsExactlyOneTrailingSlash) {
    extractor_.SetDestinationFolder("/some/folder");
    EXPECT_EQ(extractionFolder, "/some/folder/");
    extractor_.SetDestinationFolder("/some/folder/");
    EXPECT_EQ(extractionFolder, "/some/folder/");
    extractor_.SetDestinationFolder("");
    EXPECT_EQ(extractionFolder, "/");
}

TEST_F(Extractor, CallbacksAreFixedAndTheScratchFileIsRefused) {
    EXPECT_EQ(extractor_.GetOpenFn(), extractor_.GetOpenFn());
    EXPECT_EQ(extractor_.GetNotifyFn(), &CabinetExtractor::OnCabinetNotification);
    // Even where "*" names a real file, the scratch request gets -1.
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    WriteWholeFile(dir_ / "*", "");
    const int handle = extractor_.GetOpenFn()("*", 0x8102, 0x0180);
    fs::current_path(previous);
    EXPECT_EQ(handle, -1);
    // Kinds the extractor has nothing to do for answer 0.
    CabNotification notification{};
    for (int kind : {CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_CONTINUED_FILE, CAB_NOTIFY_ENUMERATE, 9})
        EXPECT_EQ(CabinetExtractor::OnCabinetNotification(kind, &notification), 0) << kind;
    EXPECT_EQ(CabinetExtractor::OnCabinetNotification(CAB_NOTIFY_NEED_CABINET, &notification), -1);
}

}  // namespace
