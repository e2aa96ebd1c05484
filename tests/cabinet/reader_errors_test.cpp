// Broken and unusual cabinets: every error code in the situations that raise
// it, made by patching cabinets that the writer produced.
#include <gtest/gtest.h>

#include "reader_support.h"

namespace cab_test {
namespace {

class ReaderErrors : public ScratchTest {
  protected:
    // One stored folder with one file "a" of `size` bytes.
    std::vector<uint8_t> OneFile(size_t size, bool checksums = true) {
        cab::CabinetWriterOptions options;
        options.checksums = checksums;
        path_ = Build({{"a", Pattern(size, 9)}}, options)[0];
        return ReadAll(path_);
    }
    int CopyPatched(const std::vector<uint8_t>& bytes, Recorder& r) {
        WriteAll(path_, bytes);
        return Copy(path_, r);
    }
    size_t DataOffset(const std::vector<uint8_t>& b) { return ReadLe32ForTest(b, 36); }
    std::string path_;
};

TEST_F(ReaderErrors, IsCabinetAnswersForCabinetsTextFilesAndOtherVersions) {
    cab::CabinetWriterOptions options;
    options.maxCabinetSize = 60000;
    options.setId = 0x1234;
    options.reserveFlag = true;
    const auto paths = Build({{"a", Pattern(100000, 1)}}, options);
    ASSERT_GE(paths.size(), 2u);
    CabContext* context = NewContext();
    CabCabinetInfo info{};
    int fd = TestOpen(paths[1].c_str(), 0x8000, 0);
    ASSERT_EQ(CabIsCabinet(context, fd, &info), 1);
    TestClose(fd);
    EXPECT_EQ(info.cabinetSize, static_cast<int32_t>(fs::file_size(paths[1])));
    EXPECT_EQ(info.setId, 0x1234);
    EXPECT_EQ(info.cabinetIndex, 1);
    EXPECT_EQ(info.folderCount, 1);
    EXPECT_EQ(info.hasPrevious, 1);
    EXPECT_EQ(info.hasReserve, 1);
    EXPECT_EQ(info.hasNext, paths.size() > 2 ? 2 : 0);
    fd = TestOpen(paths[0].c_str(), 0x8000, 0);
    ASSERT_EQ(CabIsCabinet(context, fd, &info), 1);
    TestClose(fd);
    EXPECT_EQ(info.hasNext, 2);  // the raw flag bit
    EXPECT_EQ(info.hasPrevious, 0);
    EXPECT_EQ(error_.present, 0);

    WriteAll(dir_ / "text.txt", std::vector<uint8_t>(100, 'x'));
    fd = TestOpen((dir_ / "text.txt").c_str(), 0x8000, 0);
    EXPECT_EQ(CabIsCabinet(context, fd, &info), 0);
    TestClose(fd);
    EXPECT_EQ(error_.present, 0);  // untouched

    auto bytes = ReadAll(paths[0]);
    bytes[24] = 0x02;
    bytes[25] = 0x01;
    WriteAll(dir_ / "v.cab", bytes);
    fd = TestOpen((dir_ / "v.cab").c_str(), 0x8000, 0);
    EXPECT_EQ(CabIsCabinet(context, fd, &info), 0);
    TestClose(fd);
    EXPECT_EQ(error_.code, CAB_ERROR_BAD_VERSION);
    EXPECT_EQ(error_.detail, 0x0102);
    EXPECT_EQ(error_.present, 1);
    CabDestroy(context);
}

TEST_F(ReaderErrors, OpeningFailuresNameWhatWasWrong) {
    auto bytes = OneFile(100);
    Recorder r;
    EXPECT_EQ(Copy((dir_ / "missing.cab").string(), r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_OPEN_FAILED);

    auto wrong = bytes;
    wrong[0] = 'X';
    EXPECT_EQ(CopyPatched(wrong, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_NOT_CABINET);

    EXPECT_EQ(CopyPatched(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20), r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_NOT_CABINET);

    auto version = bytes;
    version[24] = 0x04;
    EXPECT_EQ(CopyPatched(version, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_BAD_VERSION);
    EXPECT_EQ(error_.detail, 0x0104);

    // Reserve flag set, but the file ends inside the descriptor.
    auto reserve = std::vector<uint8_t>(bytes.begin(), bytes.begin() + 38);
    reserve[30] |= 0x04;
    EXPECT_EQ(CopyPatched(reserve, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_NOT_CABINET);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

TEST_F(ReaderErrors, ZeroChecksumIsNotCheckedAndAWrongOneIsCorrupt) {
    auto bytes = OneFile(1000, /*checksums=*/false);
    const size_t block = DataOffset(bytes);
    EXPECT_EQ(ReadLe32ForTest(bytes, block), 0u);
    Recorder r;
    EXPECT_EQ(Copy(path_, r), 1);

    bytes = OneFile(1000, true);
    ASSERT_NE(ReadLe32ForTest(bytes, block), 0u);
    Recorder good;
    EXPECT_EQ(Copy(path_, good), 1);
    auto broken = bytes;
    broken[block + 8 + 500] ^= 0x01;  // one data bit
    Recorder bad;
    EXPECT_EQ(CopyPatched(broken, bad), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
}

TEST_F(ReaderErrors, NamesOf255CharactersPassAnd256AreCorrupt) {
    const std::string longest(255, 'n');
    path_ = Build({{longest, Pattern(3, 1)}})[0];
    Recorder r;
    r.answer = [](int, CabNotification*) { return 0; };
    ASSERT_EQ(Copy(path_, r), 1);
    EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_START), std::vector<std::string>{longest});

    // Lengthen the name by one byte in place of its terminator.
    auto bytes = ReadAll(path_);
    const size_t table = ReadLe32ForTest(bytes, 16);
    std::vector<uint8_t> longer(bytes.begin(), bytes.begin() + table + 16 + 255);
    longer.push_back('n');
    longer.insert(longer.end(), bytes.begin() + table + 16 + 255, bytes.end());
    Recorder r2;
    r2.answer = r.answer;
    EXPECT_EQ(CopyPatched(longer, r2), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);

    // A name cut off by the end of the file.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + table + 16 + 10);
    EXPECT_EQ(CopyPatched(cut, r2), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
}

TEST_F(ReaderErrors, BadCodecOnlyWhenAFileOfThatFolderIsWritten) {
    path_ = Build({{{"a", Pattern(10, 1)}}, {{"b", Pattern(10, 2)}}})[0];
    auto bytes = ReadAll(path_);
    PutLe16ForTest(bytes, 36 + 8 + 6, 4);  // folder 1: compression type 4
    Recorder skipping;
    skipping.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_FILE_START && std::string(n->text1) == "b") return 0;
        return DefaultAnswer(skipping, kind, n);
    };
    EXPECT_EQ(CopyPatched(bytes, skipping), 1);
    Recorder all;
    EXPECT_EQ(CopyPatched(bytes, all), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_BAD_CODEC);

    // The reader's own "unset" value is no codec a cabinet may name.
    PutLe16ForTest(bytes, 36 + 8 + 6, 15);
    Recorder unset;
    EXPECT_EQ(CopyPatched(bytes, unset), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_BAD_CODEC);
    // Also when it is the first folder a context selects.
    Recorder onlyB;
    onlyB.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_FILE_START && std::string(n->text1) == "a") return 0;
        return DefaultAnswer(onlyB, kind, n);
    };
    EXPECT_EQ(CopyPatched(bytes, onlyB), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_BAD_CODEC);
}

TEST_F(ReaderErrors, LzxFolderWithAnImpossibleWindowFailsToDecode) {
    path_ = Build({{"a", Pattern(10, 1)}})[0];
    auto bytes = ReadAll(path_);
    // A stored block presented as LZX with a window of 2^31 bytes.
    PutLe16ForTest(bytes, 36 + 6, 0x1F03);
    Recorder r;
    EXPECT_EQ(CopyPatched(bytes, r), 0);
    EXPECT_TRUE(error_.code == CAB_ERROR_DECODE || error_.code == CAB_ERROR_NO_MEMORY);
}

TEST_F(ReaderErrors, TruncatedAndInconsistentStructuresAreCorrupt) {
    auto bytes = OneFile(40000);
    const size_t block = DataOffset(bytes);
    Recorder r;
    // File table beyond the end.
    auto table = bytes;
    PutLe32ForTest(table, 16, static_cast<uint32_t>(bytes.size() + 10));
    EXPECT_EQ(CopyPatched(table, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    // Data ends inside the second block.
    EXPECT_EQ(CopyPatched(std::vector<uint8_t>(bytes.begin(), bytes.end() - 5), r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    // A block larger than the compressed buffer.
    auto large = bytes;
    PutLe16ForTest(large, block + 4, 40000);
    PutLe32ForTest(large, block, 0);
    EXPECT_EQ(CopyPatched(large, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    // A stored block whose sizes disagree cannot be decoded.
    auto sizes = bytes;
    PutLe16ForTest(sizes, block + 6, 32767);
    PutLe32ForTest(sizes, block, 0);
    EXPECT_EQ(CopyPatched(sizes, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_DECODE);
    // A file that names a folder the cabinet does not have.
    auto folder = bytes;
    PutLe16ForTest(folder, ReadLe32ForTest(bytes, 16) + 8, 3);
    EXPECT_EQ(CopyPatched(folder, r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    // A file longer than its folder, in a cabinet with no next cabinet.
    auto longer = bytes;
    PutLe32ForTest(longer, ReadLe32ForTest(bytes, 16), 50000);
    Recorder counting;
    EXPECT_EQ(CopyPatched(longer, counting), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    EXPECT_TRUE(counting.Names(CAB_NOTIFY_NEED_CABINET).empty());
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

TEST_F(ReaderErrors, EveryFailedAllocationIsNoMemoryAndLeaksNothing) {
    path_ = Build({{"a", Pattern(10, 1)}}, [] {
        cab::CabinetWriterOptions o;
        o.headerReserveSize = 4;
        return o;
    }())[0];
    for (int failAt = 0; failAt < 6; ++failAt) {
        SCOPED_TRACE(failAt);
        g_faults = Faults{};
        g_faults.allocFailAt = failAt;
        error_ = {};
        CabContext* context = NewContext();
        if (failAt == 0) {
            EXPECT_EQ(context, nullptr);
            EXPECT_EQ(error_.code, CAB_ERROR_NO_MEMORY);
            continue;
        }
        Recorder r;
        const int result = CopyWith(context, path_, r);
        CabDestroy(context);
        EXPECT_EQ(g_faults.liveAllocations, 0);
        if (failAt <= 5) {
            // context, header reserve, folder entry, block header, two buffers
            EXPECT_EQ(result, 0);
            EXPECT_EQ(error_.code, CAB_ERROR_NO_MEMORY);
        }
    }
}

TEST_F(ReaderErrors, ReusedContextRejectsOtherFolderOrBlockReserves) {
    const auto plain = Build({{"a", Pattern(10, 1)}})[0];
    fs::rename(plain, dir_ / "plain.cab");
    cab::CabinetWriterOptions options;
    options.folderReserveSize = 4;
    const auto reserved = Build({{"b", Pattern(10, 2)}}, options)[0];
    CabContext* context = NewContext();
    Recorder first;
    EXPECT_EQ(CopyWith(context, (dir_ / "plain.cab").string(), first), 1);
    Recorder second;
    EXPECT_EQ(CopyWith(context, reserved, second), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_RESERVE_MISMATCH);
    // A cabinet like the first still works on the same context.
    Recorder third;
    EXPECT_EQ(CopyWith(context, (dir_ / "plain.cab").string(), third), 1);
    CabDestroy(context);

    // The header reserve size is held to the first cabinet too: reading a
    // fixed number of bytes from a cabinet that declares another would
    // misplace everything after it.
    options.folderReserveSize = 0;
    options.headerReserveSize = 10;
    const auto header = Build({{"c", Pattern(10, 3)}}, options)[0];
    context = NewContext();
    Recorder fourth;
    EXPECT_EQ(CopyWith(context, (dir_ / "plain.cab").string(), fourth), 1);
    Recorder fifth;
    EXPECT_EQ(CopyWith(context, header, fifth), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_RESERVE_MISMATCH);
    CabDestroy(context);
}

// A cabinet without folders whose file names "the last folder": the walk
// must not serve it from what an earlier walk left in the context.
TEST_F(ReaderErrors, FileOfACabinetWithoutFoldersIsCorruptAfterAnotherWalk) {
    auto bytes = OneFile(1000);
    const auto good = bytes;
    auto empty = bytes;
    PutLe16ForTest(empty, 26, 0);  // no folders
    const size_t entry = ReadLe32ForTest(bytes, 16);
    CabContext* context = NewContext();
    for (const uint16_t folder : {0xFFFE, 0}) {
        Recorder first;
        WriteAll(path_, good);
        EXPECT_EQ(CopyWith(context, path_, first), 1);
        PutLe16ForTest(empty, entry + 8, folder);
        WriteAll(path_, empty);
        Recorder second;
        error_ = {};
        EXPECT_EQ(CopyWith(context, path_, second), 0) << folder;
        EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
        EXPECT_TRUE(ReadAll(dir_ / "out/a").empty());
    }
    CabDestroy(context);
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

// 0xFFFF is a header reserve size like any other, not "not yet known".
TEST_F(ReaderErrors, LargestHeaderReserveIsFixedOnceAndFreedOnce) {
    cab::CabinetWriterOptions options;
    options.headerReserveSize = 0xFFFF;
    path_ = Build({{"a", Pattern(10, 1)}}, options)[0];
    CabContext* context = NewContext();
    for (int i = 0; i < 2; ++i) {
        Recorder r;
        EXPECT_EQ(CopyWith(context, path_, r), 1);
    }
    CabDestroy(context);
    EXPECT_EQ(g_faults.allocCount, 6);  // context, reserve, two entry buffers, two data buffers
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

TEST_F(ReaderErrors, ErrorRecordIsNeverCleared) {
    auto bytes = OneFile(10);
    Recorder r;
    EXPECT_EQ(Copy((dir_ / "missing.cab").string(), r), 0);
    EXPECT_EQ(error_.present, 1);
    Recorder ok;
    EXPECT_EQ(Copy(path_, ok), 1);
    EXPECT_EQ(error_.present, 1);
    EXPECT_EQ(error_.code, CAB_ERROR_OPEN_FAILED);
}

TEST_F(ReaderErrors, OverlongPathsAreRefusedNotTruncated) {
    OneFile(10);
    Recorder r;
    const std::string path(300, 'p');
    CabContext* context = NewContext();
    EXPECT_EQ(CabCopy(context, "a.cab", path.c_str(), 0, RecordingNotify, nullptr, &r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_OPEN_FAILED);
    const std::string name(255, 'n');
    EXPECT_EQ(CabCopy(context, name.c_str(), "/tmp/", 0, RecordingNotify, nullptr, &r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_OPEN_FAILED);
    EXPECT_EQ(g_faults.openCount, 0);
    CabDestroy(context);
}

}  // namespace
}  // namespace cab_test
