#include <gtest/gtest.h>

#include <thread>

#include "tests/cabinet/quantum_test_support.h"

namespace cab {
namespace {

using namespace quantum_test;

// Decoders share nothing: two at once, on two threads or interleaved on one,
// give what each gives alone.
TEST(QuantumDecoders, TwoAtOnceOnTwoThreads) {
    std::vector<uint8_t> first = MixedData(250000, 1);
    std::vector<uint8_t> second = MixedData(250000, 2);
    EncodedFolder folderA = EncodeFolder(first, 17);
    EncodedFolder folderB = EncodeFolder(second, 12);
    std::vector<uint8_t> outA;
    std::vector<uint8_t> outB;
    int resultA = -1;
    int resultB = -1;
    std::thread threadA([&] {
        DecoderHandle handle = CreateDecoder(17);
        resultA = DecodeFolder(handle, folderA, outA);
        QuantumDestroy(handle);
    });
    std::thread threadB([&] {
        DecoderHandle handle = CreateDecoder(12);
        resultB = DecodeFolder(handle, folderB, outB);
        QuantumDestroy(handle);
    });
    threadA.join();
    threadB.join();
    EXPECT_EQ(resultA, CAB_DECODER_OK);
    EXPECT_EQ(resultB, CAB_DECODER_OK);
    EXPECT_TRUE(outA == first);
    EXPECT_TRUE(outB == second);
}

TEST(QuantumDecoders, InterleavedBlocksOnOneThread) {
    std::vector<uint8_t> data = MixedData(200000, 3);
    EncodedFolder folder = EncodeFolder(data, 16);
    DecoderHandle a = CreateDecoder(16);
    DecoderHandle b = CreateDecoder(16);
    std::vector<uint8_t> outA;
    std::vector<uint8_t> outB;
    std::vector<uint8_t> buffer(32768);
    for (size_t i = 0; i < folder.blocks.size(); ++i) {
        for (auto [handle, out] : {std::pair{a, &outA}, std::pair{b, &outB}}) {
            uint32_t size = folder.sizes[i];
            ASSERT_EQ(QuantumDecompress(handle, folder.blocks[i].data(),
                                        static_cast<uint32_t>(folder.blocks[i].size()),
                                        buffer.data(), &size),
                      CAB_DECODER_OK);
            out->insert(out->end(), buffer.begin(), buffer.begin() + size);
        }
    }
    EXPECT_TRUE(outA == data);
    EXPECT_TRUE(outB == data);
    QuantumDestroy(a);
    QuantumDestroy(b);
}

}  // namespace
}  // namespace cab
