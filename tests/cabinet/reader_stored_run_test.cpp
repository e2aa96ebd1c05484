// Stored folders are read several blocks at a time. These cases put the
// unusual blocks in the middle of such a run (reserves, a bad checksum, the
// end of the file, split blocks at cabinet ends, the decrypt callback) and
// check that the bytes and the failures are those of a block-by-block read.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "reader_support.h"

namespace cab_test {
namespace {

constexpr size_t kBlock = 32768;

class ReaderStoredRun : public ScratchTest {
  protected:
    std::vector<uint8_t> Output(const Recorder& r, const std::string& name) {
        return ReadAll(r.outputDirectory / name);
    }
    // Writes `bytes` over the cabinet at `path` and walks it into a folder of
    // its own; answers CabCopy's result and what reached the file "a".
    std::pair<int, std::vector<uint8_t>> CopyPatched(const std::string& path,
                                                     const std::vector<uint8_t>& bytes) {
        WriteAll(path, bytes);
        Recorder r;
        r.outputDirectory = dir_ / ("patched" + std::to_string(++patched_));
        fs::create_directories(r.outputDirectory);
        const int result = Copy(path, r);
        return {result, Output(r, "a")};
    }
    int patched_ = 0;
};

TEST_F(ReaderStoredRun, FilesOfEverySizeAcrossManyBlocksWithAnyBlockReserve) {
    const std::vector<TestFile> files = {
        {"empty", {}},
        {"one", Pattern(1, 1)},
        {"large", Pattern(9 * kBlock + 123, 2)},  // more than a run
        {"inside", Pattern(5000, 3)},             // inside one run
        {"across", Pattern(3 * kBlock, 4)},       // starts mid-block
        {"last", Pattern(77, 5)},
    };
    for (uint8_t reserve : {0, 7, 255}) {
        for (bool checksums : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "reserve " << int(reserve) << " checksums " << checksums);
            cab::CabinetWriterOptions options;
            options.blockReserveSize = reserve;
            options.checksums = checksums;
            const auto paths = Build(files, options);
            Recorder r;
            r.outputDirectory = dir_ / ("out" + std::to_string(reserve) + (checksums ? "c" : ""));
            fs::create_directories(r.outputDirectory);
            ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
            for (const TestFile& f : files) EXPECT_EQ(Output(r, f.name), f.data) << f.name;
        }
    }
}

TEST_F(ReaderStoredRun, TheSecondFileFirstThenTheFirstReadsTheFolderAgain) {
    const std::vector<TestFile> files = {{"a", Pattern(4 * kBlock + 10, 6)},
                                         {"b", Pattern(6 * kBlock, 7)}};
    const auto paths = Build(files);
    const uint32_t table = ReadLe32ForTest(ReadAll(paths[0]), 16);
    Recorder r;
    int enumerations = 0;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_ENUMERATE) {
            enumerations += 1;
            n->folderIndex = enumerations < 3 ? 1 : 0;
            if (enumerations == 1) n->size = static_cast<int32_t>(table + 16 + 2);  // "b"
            if (enumerations == 2) n->size = static_cast<int32_t>(table);           // "a"
        }
        return DefaultAnswer(r, kind, n);
    };
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_START), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(Output(r, "a"), files[0].data);
    EXPECT_EQ(Output(r, "b"), files[1].data);
}

TEST_F(ReaderStoredRun, ABadBlockDeepInAFolderFailsAfterTheBlocksBeforeItAreWritten) {
    const auto data = Pattern(20 * kBlock, 8);
    const std::string path = Build({{"a", data}})[0];
    const auto good = ReadAll(path);
    const size_t first = ReadLe32ForTest(good, 36);
    const size_t eleventh = first + 11 * (8 + kBlock);

    auto bad = good;
    bad[eleventh + 8 + 100] ^= 0x40;  // a data bit of block 11
    auto [result, written] = CopyPatched(path, bad);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    EXPECT_EQ(written, std::vector<uint8_t>(data.begin(), data.begin() + 11 * kBlock));

    // A size that a stored block cannot have is a decoding failure there.
    auto uneven = good;
    PutLe16ForTest(uneven, eleventh + 6, 1000);
    PutLe32ForTest(uneven, eleventh, 0);
    std::tie(result, written) = CopyPatched(path, uneven);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error_.code, CAB_ERROR_DECODE);
    EXPECT_EQ(written.size(), 11 * kBlock);

    // Cut inside block 11's data: the blocks before it, then corrupt.
    std::tie(result, written) =
        CopyPatched(path, std::vector<uint8_t>(good.begin(), good.begin() + eleventh + 8 + 5000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
    EXPECT_EQ(written.size(), 11 * kBlock);
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

TEST_F(ReaderStoredRun, SplitBlocksAtEveryCabinetEndOfALongSet) {
    cab::CabinetWriterOptions options;
    options.maxCabinetSize = 100000;  // not a multiple of a block: every end splits one
    options.blockReserveSize = 3;
    const std::vector<TestFile> files = {{"a", Pattern(5000, 9)},
                                         {"big", Pattern(15 * kBlock + 999, 10)}};
    const auto paths = Build(files, options);
    ASSERT_GE(paths.size(), 5u);
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_EQ(Output(r, "a"), files[0].data);
    EXPECT_EQ(Output(r, "big"), files[1].data);
}

TEST_F(ReaderStoredRun, TheDecryptCallbackStillSeesEveryBlockOnItsOwn) {
    const auto data = Pattern(10 * kBlock + 5, 11);
    const auto paths = Build({{"a", data}});
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r, /*withDecrypt=*/true), 1) << error_.code;
    size_t blocks = 0;
    for (const CabDecryptRequest& request : r.decrypts) {
        if (request.kind == CAB_DECRYPT_DATA_BLOCK) ++blocks;
    }
    EXPECT_EQ(blocks, 11u);
    EXPECT_EQ(Output(r, "a"), data);
}

}  // namespace
}  // namespace cab_test
