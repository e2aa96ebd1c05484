// A stored block may hold at most 32768 bytes, whether the reader takes it
// on its own or inside a run of blocks.
#include <gtest/gtest.h>

#include "reader_support.h"

namespace cab_test {
namespace {

constexpr size_t kBlock = 32768;

class ReaderStoredBlockLimit : public ScratchTest {};

// Merges block 1 of a three-block folder with block 2, header included, into
// one stored block of 32768 + 8 + 7000 bytes.
std::vector<uint8_t> WithOversizeBlock(std::vector<uint8_t> cabinet, uint16_t checksum) {
    const size_t second = ReadLe32ForTest(cabinet, kFolderTableOffset) + 8 + kBlock;
    const uint16_t merged = static_cast<uint16_t>(kBlock + 8 + 7000);
    PutLe16ForTest(cabinet, kFolderTableOffset + 4, 2);  // blockCount
    PutLe32ForTest(cabinet, second, checksum);
    PutLe16ForTest(cabinet, second + 4, merged);
    PutLe16ForTest(cabinet, second + 6, merged);
    return cabinet;
}

TEST_F(ReaderStoredBlockLimit, AStoredBlockLargerThanTheLargestBlockIsRefused) {
    const std::vector<TestFile> files = {{"a", Pattern(2 * kBlock + 7000, 21)}};
    const std::string path = Build(files)[0];
    const std::vector<uint8_t> good = ReadAll(path);
    // Without the check a run took the block whole and wrote a file of the
    // wrong content (the second header inside it) as a success.
    for (bool first : {false, true}) {
        SCOPED_TRACE(first ? "the first block" : "inside a run");
        std::vector<uint8_t> bad = WithOversizeBlock(good, 0);
        if (first) {
            // Make the oversize block the folder's first: skip block 0.
            const size_t second = ReadLe32ForTest(good, kFolderTableOffset) + 8 + kBlock;
            PutLe32ForTest(bad, kFolderTableOffset, static_cast<uint32_t>(second));
            PutLe16ForTest(bad, kFolderTableOffset + 4, 1);
        }
        WriteAll(path, bad);
        Recorder r;
        r.outputDirectory = dir_ / (first ? "first" : "run");
        fs::create_directories(r.outputDirectory);
        EXPECT_EQ(Copy(path, r), 0);
        EXPECT_EQ(error_.code, CAB_ERROR_CORRUPT);
        EXPECT_LE(ReadAll(r.outputDirectory / "a").size(), kBlock);
    }
}

}  // namespace
}  // namespace cab_test
