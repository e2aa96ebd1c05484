// Cabinet sets: files continued into following cabinets, split data blocks,
// the NEED_CABINET conversation and its failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "reader_support.h"

namespace cab_test {
namespace {

using ::testing::ElementsAre;

struct TableEntry {
    std::string name;
    uint16_t folderIndex;
};

std::vector<TableEntry> FileTable(const std::vector<uint8_t>& bytes) {
    std::vector<TableEntry> entries;
    size_t at = ReadLe32ForTest(bytes, 16);
    const uint16_t count = static_cast<uint16_t>(bytes[28] | (bytes[29] << 8));
    for (int i = 0; i < count; ++i) {
        TableEntry e;
        e.folderIndex = static_cast<uint16_t>(bytes[at + 8] | (bytes[at + 9] << 8));
        at += 16;
        while (bytes[at] != 0) e.name += static_cast<char>(bytes[at++]);
        at += 1;
        entries.push_back(e);
    }
    return entries;
}

class ReaderSet : public ScratchTest {
  protected:
    // a (small) in the first cabinet, b across the end of the first cabinet
    // in a split block, c beginning in the second.
    std::vector<std::string> TwoCabinets(cab::CabinetWriterOptions options = {}) {
        options.maxCabinetSize = 60000;
        options.setId = 77;
        a_ = Pattern(1000, 1);
        b_ = Pattern(70000, 2);
        c_ = Pattern(3000, 3);
        auto paths = Build({{"a", a_}, {"b", b_}, {"c", c_}}, options);
        EXPECT_EQ(paths.size(), 2u);
        return paths;
    }
    std::vector<uint8_t> a_, b_, c_;
};

TEST_F(ReaderSet, FirstCabinetFinishesTheSplitFileAndStopsBeforeFilesOfTheSecond) {
    const auto paths = TwoCabinets();
    const auto first = FileTable(ReadAll(paths[0]));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].folderIndex, 0xFFFE);
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r, true), 1) << error_.code;
    EXPECT_THAT(r.Kinds(),
                ElementsAre(CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_ENUMERATE, CAB_NOTIFY_FILE_START,
                            CAB_NOTIFY_FILE_DONE, CAB_NOTIFY_FILE_START, CAB_NOTIFY_NEED_CABINET,
                            CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_FILE_DONE, CAB_NOTIFY_ENUMERATE));
    EXPECT_EQ(r.events[0].text1, "cabinet2.cab");
    EXPECT_EQ(r.events[0].text2, "DISK2");
    const Event& need = r.events[5];
    EXPECT_EQ(need.text1, "cabinet2.cab");
    EXPECT_EQ(need.text2, "DISK2");
    EXPECT_EQ(need.text3, (dir_ / "").string());
    EXPECT_EQ(need.setId, 77);
    EXPECT_EQ(need.cabinetIndex, 1);
    EXPECT_EQ(need.error, 0);
    EXPECT_EQ(r.events[6].cabinetIndex, 1);
    EXPECT_EQ(r.events[7].text1, "b");
    EXPECT_EQ(r.events[7].folderIndex, 0xFFFE);  // the file as it was started
    EXPECT_EQ(ReadAll(dir_ / "out/a"), a_);
    EXPECT_EQ(ReadAll(dir_ / "out/b"), b_);
    EXPECT_FALSE(fs::exists(dir_ / "out/c"));
    bool sawSplit = false;
    for (const auto& d : r.decrypts) {
        if (d.kind == CAB_DECRYPT_DATA_BLOCK && d.isSplit && d.partOffset != 0) sawSplit = true;
    }
    EXPECT_TRUE(sawSplit);

    // The second cabinet offers b as continued and delivers c.
    Recorder second;
    second.outputDirectory = dir_ / "out2";
    ASSERT_EQ(Copy(paths[1], second), 1) << error_.code;
    EXPECT_THAT(second.Kinds(), ElementsAre(CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_ENUMERATE,
                                            CAB_NOTIFY_CONTINUED_FILE, CAB_NOTIFY_FILE_START,
                                            CAB_NOTIFY_FILE_DONE, CAB_NOTIFY_ENUMERATE));
    EXPECT_EQ(second.events[2].text1, "b");
    EXPECT_EQ(second.events[2].text2, "cabinet1.cab");
    EXPECT_EQ(second.events[2].text3, "DISK1");
    EXPECT_EQ(ReadAll(dir_ / "out2/c"), c_);
}

// Makes r answer each request for the next cabinet with "look again" (0),
// counting them in asked, until the giveUpAt-th, which it answers with -1.
void AskAgainUntil(Recorder& r, int& asked, int giveUpAt) {
    r.answer = [&r, &asked, giveUpAt](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_NEED_CABINET) return ++asked == giveUpAt ? -1 : 0;
        return DefaultAnswer(r, kind, n);
    };
}

TEST_F(ReaderSet, NeedCabinetRepeatsWithTheFailureUntilTheCallbackGivesUp) {
    const auto paths = TwoCabinets();
    auto second = ReadAll(paths[1]);
    PutLe16ForTest(second, 32, 78);  // another set
    WriteAll(paths[1], second);
    Recorder r;
    int asked = 0;
    AskAgainUntil(r, asked, 3);
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_ABORTED);
    std::vector<int> errors;
    for (const Event& e : r.events) {
        if (e.kind == CAB_NOTIFY_NEED_CABINET) errors.push_back(e.error);
    }
    EXPECT_THAT(errors, ElementsAre(0, CAB_ERROR_WRONG_CABINET, CAB_ERROR_WRONG_CABINET));
    EXPECT_EQ(g_faults.liveAllocations, 0);

    // Another index is as wrong as another set.
    PutLe16ForTest(second, 32, 77);
    PutLe16ForTest(second, 34, 2);
    WriteAll(paths[1], second);
    Recorder index;
    asked = 0;
    index.answer = r.answer;
    EXPECT_EQ(Copy(paths[0], index), 0);
    EXPECT_EQ(index.events.back().error, CAB_ERROR_WRONG_CABINET);
}

TEST_F(ReaderSet, TheCallbackMayNameAnotherFileAfterAFailedAttempt) {
    const auto paths = TwoCabinets();
    fs::rename(paths[1], dir_ / "moved.cab");
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_NEED_CABINET && n->error == CAB_ERROR_OPEN_FAILED) {
            std::strcpy(n->text1, "moved.cab");
        }
        return DefaultAnswer(r, kind, n);
    };
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_EQ(ReadAll(dir_ / "out/b"), b_);
    EXPECT_EQ(r.Names(CAB_NOTIFY_NEED_CABINET),
              (std::vector<std::string>{"cabinet2.cab", "cabinet2.cab"}));
}

TEST_F(ReaderSet, SkippedSplitFilesAreSteppedOverInTheNextCabinet) {
    // b is skipped; a later file that also crosses is written. Its
    // continuation entry comes after b's in the second cabinet.
    cab::CabinetWriterOptions options;
    options.maxCabinetSize = 60000;
    options.newFolderAfterCrossing = false;
    const auto b = Pattern(50000, 2);
    const auto c = Pattern(20000, 3);
    const auto paths = Build({{"b", b}, {"c", c}, {"d", Pattern(10, 4)}}, options);
    ASSERT_EQ(paths.size(), 2u);
    const auto table = FileTable(ReadAll(paths[0]));
    ASSERT_EQ(table.size(), 2u);
    ASSERT_EQ(table[0].folderIndex, 0xFFFE);  // b ends in the split block
    ASSERT_EQ(table[1].folderIndex, 0xFFFE);
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_FILE_START && std::string(n->text1) == "b") return 0;
        return DefaultAnswer(r, kind, n);
    };
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_START), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(ReadAll(dir_ / "out/c"), c);
    EXPECT_FALSE(fs::exists(dir_ / "out/b"));
}

// A file that runs through a whole middle cabinet (0xFFFF there) crosses
// twice in one walk; the file that begins in the split block at the end of
// the middle cabinet is then offered from the third cabinet's table while
// continuing.
TEST_F(ReaderSet, AFileThroughAWholeCabinetCrossesTwiceInOneWalk) {
    const auto x = Pattern(100000, 5);
    const auto y = Pattern(3000, 6);
    for (uint32_t max = 49000; max < 52000; max += 97) {
        cab::CabinetWriterOptions options;
        options.maxCabinetSize = max;
        options.newFolderAfterCrossing = false;
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
        const auto paths = Build({{"x", x}, {"y", y}}, options);
        if (paths.size() != 3) continue;
        const auto middle = FileTable(ReadAll(paths[1]));
        if (middle.size() != 2 || middle[0].folderIndex != 0xFFFF ||
            middle[1].folderIndex != 0xFFFE) {
            continue;
        }
        Recorder r;
        ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
        EXPECT_EQ(r.Names(CAB_NOTIFY_NEED_CABINET),
                  (std::vector<std::string>{"cabinet2.cab", "cabinet3.cab"}));
        EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_START), (std::vector<std::string>{"x", "y"}));
        EXPECT_EQ(ReadAll(dir_ / "out/x"), x);
        EXPECT_EQ(ReadAll(dir_ / "out/y"), y);
        return;
    }
    FAIL() << "no layout with a file through the middle cabinet";
}

TEST_F(ReaderSet, ContinuationCabinetWithoutRoomForTheSkippedEntriesIsCorrupt) {
    const auto paths = TwoCabinets();
    auto second = ReadAll(paths[1]);
    PutLe16ForTest(second, 28, 0);  // no file entries at all
    WriteAll(paths[1], second);
    Recorder r;
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
}

TEST_F(ReaderSet, ClosingAFailingCabinetHandleBeforeASwitchIsCorrupt) {
    const auto paths = TwoCabinets();
    g_faults.closeFailFrom = 0;
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_FILE_DONE) {
            ::close(n->fileHandle);
            return 1;
        }
        return DefaultAnswer(r, kind, n);
    };
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    EXPECT_TRUE(r.Names(CAB_NOTIFY_NEED_CABINET).empty());
}

TEST_F(ReaderSet, ContinuedFolderOfAnotherCodecIsCorrupt) {
    const auto paths = TwoCabinets();
    auto second = ReadAll(paths[1]);
    const size_t folders = second[26];
    PutLe16ForTest(second, ReadLe32ForTest(second, 16) - 8 * folders + 6, 1);  // folder 0: MSZIP
    WriteAll(paths[1], second);
    Recorder r;
    int asked = 0;
    AskAgainUntil(r, asked, 2);
    EXPECT_EQ(Copy(paths[0], r), 0);
    ASSERT_EQ(asked, 2);
    EXPECT_EQ(r.events.back().error, CAB_ERROR_CORRUPT);
}

// A split block whose parts together pass the compressed buffer (32768 bytes
// for a stored folder) by one byte is corrupt, before anything is read into the
// buffer. The checksum is cleared so that only the size can refuse it.
TEST_F(ReaderSet, SplitBlockPartsPassingTheBufferAreCorrupt) {
    cab::CabinetWriterOptions options;
    options.maxCabinetSize = 60000;
    const auto paths = Build({{"a", Pattern(1000, 1)}, {"b", Pattern(100000, 2)}}, options);
    ASSERT_GE(paths.size(), 2u);
    // The first part is the last block of the first cabinet's folder.
    const auto first = ReadAll(paths[0]);
    const size_t folder = ReadLe32ForTest(first, 16) - 8 * first[26];
    size_t block = ReadLe32ForTest(first, folder);
    uint32_t partOffset = 0;
    for (int i = first[folder + 4] | first[folder + 5] << 8; i > 0; --i) {
        partOffset = first[block + 4] | first[block + 5] << 8;
        block += 8 + partOffset;
    }
    auto second = ReadAll(paths[1]);
    const size_t secondBlock =
        ReadLe32ForTest(second, ReadLe32ForTest(second, 16) - 8 * second[26]);
    PutLe32ForTest(second, secondBlock, 0);
    PutLe16ForTest(second, secondBlock + 4, static_cast<uint16_t>(32768 + 1 - partOffset));
    WriteAll(paths[1], second);
    Recorder r;
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
}

}  // namespace
}  // namespace cab_test
