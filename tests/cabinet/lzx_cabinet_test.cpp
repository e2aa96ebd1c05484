// LZX folders read through the cabinet reader: the window from the folder's
// compression type, a reset between folders, and history kept across the
// cabinets of a set.
#include <gtest/gtest.h>

#include "cabinet/writer/cabinet_writer.h"
#include "cabinet/writer/lzx_encoder.h"
#include "tests/cabinet/lzx_test_support.h"
#include "tests/cabinet/reader_support.h"

namespace cab_test {
namespace {

class LzxCabinetTest : public ScratchTest {
  protected:
    // Folders of LZX files with the given window exponents; answers the paths.
    std::vector<std::string> BuildLzx(const std::vector<std::vector<TestFile>>& folders,
                                      const std::vector<int>& windows,
                                      cab::CabinetWriterOptions options = {}) {
        std::vector<EncodedFolder> encoded;
        for (size_t i = 0; i < folders.size(); ++i) {
            const int bits = windows[i];
            encoded.push_back(
                {[bits] { return cab::MakeLzxEncoder(bits, bits > 16); }, folders[i]});
        }
        return BuildFolders(encoded, std::move(options));
    }

    void ExpectExtracted(const std::vector<TestFile>& files) {
        for (const TestFile& file : files) {
            EXPECT_TRUE(ReadAll(dir_ / "out" / file.name) == file.data) << file.name;
        }
    }
};

TEST_F(LzxCabinetTest, FoldersWithDifferentWindows) {
    std::vector<TestFile> first = {{"a.txt", cab::lzx_test::TextData(100000, 31)},
                                   {"b.bin", cab::lzx_test::RandomData(40000, 32)}};
    std::vector<TestFile> second = {{"c.txt", cab::lzx_test::TextData(70000, 33)},
                                    {"empty", {}},
                                    {"d.txt", cab::lzx_test::TextData(5, 34)}};
    auto paths = BuildLzx({first, second}, {15, 21});
    ASSERT_EQ(paths.size(), 1u);
    Recorder recorder;
    ASSERT_EQ(Copy(paths[0], recorder), 1) << error_.code;
    ExpectExtracted(first);
    ExpectExtracted(second);
}

// The same context extracts the cabinet twice: the decoder is reset for the
// folder and decodes it again from its start.
TEST_F(LzxCabinetTest, ContextReusedAcrossCopies) {
    std::vector<TestFile> files = {{"x.txt", cab::lzx_test::TextData(90000, 35)}};
    auto paths = BuildLzx({files}, {17});
    CabContext* context = NewContext();
    for (int round = 0; round < 2; ++round) {
        Recorder recorder;
        ASSERT_EQ(CopyWith(context, paths[0], recorder), 1) << error_.code;
        ExpectExtracted(files);
    }
    CabDestroy(context);
}

// A folder continued in the next cabinet of a set keeps its decoder history.
TEST_F(LzxCabinetTest, FolderAcrossCabinets) {
    std::vector<TestFile> files = {{"big.txt", cab::lzx_test::TextData(300000, 36)},
                                   {"tail.txt", cab::lzx_test::TextData(3000, 37)}};
    cab::CabinetWriterOptions options;
    options.maxCabinetSize = 40000;
    options.cabinetName = [](int i) { return "set" + std::to_string(i) + ".cab"; };
    auto paths = BuildLzx({files}, {18}, options);
    ASSERT_GT(paths.size(), 1u);
    Recorder recorder;
    ASSERT_EQ(Copy(paths[0], recorder), 1) << error_.code;
    EXPECT_TRUE(ReadAll(dir_ / "out" / "big.txt") == files[0].data);
}

// A corrupt LZX block (checksums off) fails cleanly with a decode error.
TEST_F(LzxCabinetTest, CorruptBlockIsADecodeError) {
    std::vector<TestFile> files = {{"a.txt", cab::lzx_test::TextData(50000, 38)}};
    cab::CabinetWriterOptions options;
    options.checksums = false;
    auto paths = BuildLzx({files}, {16}, options);
    std::vector<uint8_t> bytes = ReadAll(paths[0]);
    const size_t dataOffset = ReadLe32ForTest(bytes, kFolderTableOffset);
    // Block type bits of the first block header become 7.
    bytes[dataOffset + 8 + 1] |= 0x70;
    WriteAll(paths[0], bytes);
    Recorder recorder;
    EXPECT_EQ(Copy(paths[0], recorder), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_DECODE);
}

}  // namespace
}  // namespace cab_test
