// The MSZIP decoder's interface and its agreement with zlib's deflate.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "tests/cabinet/mszip_test_support.h"

namespace {

using namespace mszip_test;

TEST(MszipInterface, QueryClampsTheBlockSizeAndAddsTwelveBytes) {
    for (auto [asked, expected] :
         {std::pair<uint32_t, uint32_t>{0, 32768}, {40000, 32768}, {32768, 32768}, {1000, 1000}}) {
        uint32_t maxBlock = asked, bufferSize = 0;
        EXPECT_EQ(cab::MszipQuery(&maxBlock, &bufferSize), CAB_DECODER_OK);
        EXPECT_EQ(maxBlock, expected);
        EXPECT_EQ(bufferSize, expected + 12);
    }
}

TEST(MszipInterface, WrongSignatureIsABadHandleForEveryOperation) {
    uint32_t notAHandle[8] = {0x12345678};
    uint8_t input[4] = {'C', 'K', 3, 0}, output[16];
    uint32_t size = sizeof(output);
    EXPECT_EQ(cab::MszipDecompress(notAHandle, input, 4, output, &size), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(cab::MszipReset(notAHandle), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(cab::MszipDestroy(notAHandle), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(cab::MszipReset(nullptr), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(cab::MszipDestroy(nullptr), CAB_DECODER_BAD_HANDLE);
}

struct CountingAllocator {
    static inline int allocations = 0, frees = 0, failAt = -1;
    static void* Alloc(uint32_t size) {
        if (allocations++ == failAt) return nullptr;
        return std::malloc(size);
    }
    static void Free(void* memory) {
        ++frees;
        std::free(memory);
    }
};

TEST(MszipInterface, CreateFreesWhatItAllocatedWhenMemoryRunsOut) {
    cab::DecoderServices services;
    services.alloc = CountingAllocator::Alloc;
    services.free = CountingAllocator::Free;
    for (int failAt : {0, 1}) {
        CountingAllocator::allocations = CountingAllocator::frees = 0;
        CountingAllocator::failAt = failAt;
        uint32_t maxBlock = 0, bufferSize = 0;
        cab::DecoderHandle handle = &maxBlock;
        EXPECT_EQ(cab::MszipCreate(&maxBlock, &bufferSize, services, &handle),
                  CAB_DECODER_NO_MEMORY);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(CountingAllocator::frees, failAt);
        EXPECT_EQ(bufferSize, 32780u);
    }
    CountingAllocator::allocations = CountingAllocator::frees = 0;
    CountingAllocator::failAt = -1;
    uint32_t maxBlock = 0, bufferSize = 0;
    cab::DecoderHandle handle = nullptr;
    ASSERT_EQ(cab::MszipCreate(&maxBlock, &bufferSize, services, &handle), CAB_DECODER_OK);
    EXPECT_EQ(std::memcmp(handle, "MDIC", 4), 0);
    EXPECT_EQ(cab::MszipReset(handle), CAB_DECODER_OK);
    EXPECT_EQ(cab::MszipDestroy(handle), CAB_DECODER_OK);
    EXPECT_EQ(CountingAllocator::frees, CountingAllocator::allocations);
}

TEST(MszipInterface, BlockMustStartWithCKAndFitTheCompressedBuffer) {
    Decoder decoder;
    const Bytes good = BitWriter().Stored(true, {'x'}).Block();
    Bytes produced;
    ASSERT_EQ(decoder.Decode(good, produced), CAB_DECODER_OK);
    EXPECT_EQ(produced, Bytes{'x'});

    for (std::string prefix : {"", "C", "ck", "KC"}) {
        Bytes bad(prefix.begin(), prefix.end());
        if (bad.size() == 2) bad.insert(bad.end(), good.begin() + 2, good.end());
        EXPECT_EQ(decoder.Decode(bad), CAB_DECODER_DATA_ERROR) << prefix;
    }

    // 32780 bytes are accepted (trailing data after the final block is
    // ignored); 32781 are refused before the first byte is looked at.
    Bytes largest = good;
    largest.resize(32780, 0xAB);
    ASSERT_EQ(decoder.Decode(largest, produced), CAB_DECODER_OK);
    EXPECT_EQ(produced, Bytes{'x'});
    Bytes tooLarge(32781, 0);
    EXPECT_EQ(decoder.Decode(tooLarge), CAB_DECODER_BAD_SIZE);
}

// Decodes a folder's blocks in order and joins their output.
Bytes DecodeFolder(const std::vector<Bytes>& blocks) {
    Decoder decoder;
    Bytes all, produced;
    for (const Bytes& block : blocks) {
        const int result = decoder.Decode(block, produced);
        if (result != CAB_DECODER_OK)
            throw std::runtime_error("block " + std::to_string(&block - blocks.data()) + " of " +
                                     std::to_string(blocks.size()) + ": result " +
                                     std::to_string(result));
        all.insert(all.end(), produced.begin(), produced.end());
    }
    return all;
}

class MszipZlibRoundTrip : public testing::TestWithParam<std::tuple<int, int, BlockMode>> {};

TEST_P(MszipZlibRoundTrip, DecodesEveryKindOfSampleExactly) {
    const auto [level, strategy, mode] = GetParam();
    const Bytes samples[] = {TextSample(80000), RandomSample(70000), BinarySample(90000),
                             TextSample(32768, 5), TextSample(1000, 9)};
    for (const Bytes& sample : samples) {
        const auto blocks = MakeMszipBlocks(sample, level, strategy, mode);
        EXPECT_EQ(DecodeFolder(blocks), sample) << "sample of " << sample.size() << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(LevelsStrategiesAndFlushes, MszipZlibRoundTrip,
                         testing::Combine(testing::Range(0, 10),
                                          testing::Values(Z_DEFAULT_STRATEGY, Z_FILTERED,
                                                          Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED),
                                          testing::Values(BlockMode::Dictionary,
                                                          BlockMode::SyncFlush,
                                                          BlockMode::FullFlush)));

TEST(MszipZlib, SmallDeflateBuffersGiveSeveralDeflateBlocksPerDataBlock) {
    // memLevel 1 makes zlib end a deflate block every few hundred symbols.
    const Bytes sample = TextSample(100000, 11);
    for (int level : {1, 6, 9}) {
        const auto blocks =
            MakeMszipBlocks(sample, level, Z_DEFAULT_STRATEGY, BlockMode::SyncFlush, 1);
        EXPECT_EQ(DecodeFolder(blocks), sample) << "level " << level;
    }
}

TEST(MszipZlib, EmptyInputDecodesToNothing) {
    const auto blocks = MakeMszipBlocks({}, 6, Z_DEFAULT_STRATEGY, BlockMode::Dictionary);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(DecodeFolder(blocks).empty());
}

TEST(MszipZlib, ResetStartsANewFolderInTheSameBuffer) {
    const Bytes first = TextSample(70000, 21), second = BinarySample(50000, 22);
    Decoder decoder;
    for (const Bytes* sample : {&first, &second}) {
        ASSERT_EQ(cab::MszipReset(decoder.handle()), CAB_DECODER_OK);
        Bytes all, produced;
        for (const Bytes& block :
             MakeMszipBlocks(*sample, 9, Z_DEFAULT_STRATEGY, BlockMode::Dictionary)) {
            ASSERT_EQ(decoder.Decode(block, produced), CAB_DECODER_OK);
            all.insert(all.end(), produced.begin(), produced.end());
        }
        EXPECT_EQ(all, *sample);
    }
}

}  // namespace
