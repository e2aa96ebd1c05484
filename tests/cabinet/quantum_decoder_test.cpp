#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cabinet/quantum_model.h"
#include "tests/cabinet/quantum_reference_decoder.h"
#include "tests/cabinet/quantum_test_support.h"

namespace cab {
namespace {

using namespace quantum_test;

TEST(QuantumDecoder, WindowExponentsTenToTwentyOneOnly) {
    for (int bits : {9, 22, 0, 31}) {
        uint32_t maxBlock = 32768;
        uint32_t bufferSize = 0;
        DecoderHandle handle = reinterpret_cast<DecoderHandle>(1);
        EXPECT_EQ(QuantumQuery(&maxBlock, bits, 0, &bufferSize), CAB_DECODER_BAD_PARAMETER);
        EXPECT_EQ(QuantumCreate(&maxBlock, bits, 0, &bufferSize, MemoryServices(), &handle),
                  CAB_DECODER_BAD_PARAMETER);
        EXPECT_EQ(handle, nullptr);
    }
    for (int bits : {10, 21}) {
        for (uint32_t asked : {0u, 32768u, 40000u}) {
            uint32_t maxBlock = asked;
            uint32_t bufferSize = 0;
            EXPECT_EQ(QuantumQuery(&maxBlock, bits, 0, &bufferSize), CAB_DECODER_OK);
            EXPECT_EQ(maxBlock, 32768u);
            EXPECT_EQ(bufferSize, 43008u);
        }
        DecoderHandle handle = CreateDecoder(bits);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(QuantumDestroy(handle), CAB_DECODER_OK);
    }
}

TEST(QuantumDecoder, PositionModelSizesFollowTheWindow) {
    QuantumModels models;
    QuantumModelsInit(models, 10);
    EXPECT_EQ(models.position3.entries, 20);
    EXPECT_EQ(models.position4.entries, 20);
    EXPECT_EQ(models.positionLong.entries, 20);
    QuantumModelsInit(models, 21);
    EXPECT_EQ(models.position3.entries, 24);
    EXPECT_EQ(models.position4.entries, 36);
    EXPECT_EQ(models.positionLong.entries, 42);
    EXPECT_EQ(models.selector.entries, 7);
    EXPECT_EQ(models.literal[3].entries, 64);
    EXPECT_EQ(models.length.entries, 27);
    for (int bits = 10; bits <= 21; ++bits) {
        QuantumModelsInit(models, bits);
        EXPECT_EQ(models.position3.entries, std::min(24, 2 * bits));
        EXPECT_EQ(models.position4.entries, std::min(36, 2 * bits));
        EXPECT_EQ(models.positionLong.entries, 2 * bits);
        EXPECT_EQ(models.selector.cumulativeFrequency[0], 7);
        EXPECT_EQ(models.selector.shiftsLeft, 4);
    }
}

// Frequencies 2, 2, 3 for symbols 0, 1, 2: the exchange sort moves symbol 0
// behind symbol 1 (a stable sort would not).
TEST(QuantumModel, ResortKeepsTheExchangeSortsTieOrder) {
    QuantumModel model;
    QuantumModelInit(model, 3);
    const uint16_t cumulative[] = {14, 10, 6, 0};
    std::memcpy(model.cumulativeFrequency, cumulative, sizeof cumulative);
    model.shiftsLeft = 1;
    QuantumModelRescale(model);
    EXPECT_EQ(model.shiftsLeft, 50);
    EXPECT_EQ(model.symbol[0], 2);
    EXPECT_EQ(model.symbol[1], 1);
    EXPECT_EQ(model.symbol[2], 0);
    EXPECT_EQ(model.cumulativeFrequency[0], 7);
    EXPECT_EQ(model.cumulativeFrequency[1], 4);
    EXPECT_EQ(model.cumulativeFrequency[2], 2);
    EXPECT_EQ(model.cumulativeFrequency[3], 0);
}

// The first re-sort comes with the 4th rescale, later ones with every 50th;
// the rescales between only halve (keeping the values strictly falling).
TEST(QuantumModel, RescalesHalveUntilTheResort) {
    QuantumModel model;
    QuantumModelInit(model, 4);
    // Crediting index 3 makes the last symbol the most frequent by far.
    auto creditUntilRescale = [&] {
        int shifts = model.shiftsLeft;
        while (model.shiftsLeft == shifts) QuantumModelUpdate(model, 3);
    };
    for (int rescale = 1; rescale <= 3; ++rescale) {
        creditUntilRescale();
        EXPECT_EQ(model.shiftsLeft, 4 - rescale);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(model.symbol[i], i);
        for (int i = 0; i < 4; ++i) {
            EXPECT_GT(model.cumulativeFrequency[i], model.cumulativeFrequency[i + 1]);
        }
    }
    creditUntilRescale();
    EXPECT_EQ(model.shiftsLeft, 50);
    EXPECT_EQ(model.symbol[0], 3);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(model.cumulativeFrequency[i], model.cumulativeFrequency[i + 1]);
    }
    EXPECT_EQ(model.cumulativeFrequency[4], 0);
}

TEST(QuantumDecoder, AgreesWithThePlainDecoderOnEncodedStreams) {
    std::vector<uint8_t> data = MixedData(200000, 11);
    for (int bits : {10, 12, 15, 17, 21}) {
        SCOPED_TRACE(bits);
        EncodedFolder folder = EncodeFolder(data, bits);
        ReferenceQuantumDecoder reference(bits);
        std::vector<uint8_t> expected;
        for (size_t i = 0; i < folder.blocks.size(); ++i) {
            std::vector<uint8_t> block;
            ASSERT_TRUE(reference.Decode(folder.blocks[i].data(),
                                         static_cast<uint32_t>(folder.blocks[i].size()),
                                         folder.sizes[i], block));
            expected.insert(expected.end(), block.begin(), block.end());
        }
        EXPECT_TRUE(expected == data);
    }
}

// Arbitrary bytes decode to something (or fail) in exactly the same way.
TEST(QuantumDecoder, AgreesWithThePlainDecoderOnArbitraryBytes) {
    std::mt19937 random(5);
    std::vector<uint8_t> output(32768);
    int decodedBlocks = 0;
    for (int round = 0; round < 60; ++round) {
        int bits = 10 + round % 12;
        DecoderHandle handle = CreateDecoder(bits);
        ASSERT_NE(handle, nullptr);
        ReferenceQuantumDecoder reference(bits);
        for (int block = 0; block < 4; ++block) {
            std::vector<uint8_t> input(random() % 3000);
            for (auto& byte : input)
                byte = static_cast<uint8_t>(random() & (round % 2 ? 0xFF : 0x0F));
            uint32_t size = 1 + random() % 6000;
            std::vector<uint8_t> expected;
            bool referenceOk =
                reference.Decode(input.data(), static_cast<uint32_t>(input.size()), size, expected);
            uint32_t produced = size;
            int result =
                QuantumDecompress(handle, input.data(), static_cast<uint32_t>(input.size()),
                                  output.data(), &produced);
            ASSERT_EQ(result, referenceOk ? CAB_DECODER_OK : CAB_DECODER_DATA_ERROR)
                << "round " << round << " block " << block;
            if (referenceOk) {
                ++decodedBlocks;
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), output.begin()));
            }
            if (!referenceOk) break;  // the reader gives up on the folder here
        }
        QuantumDestroy(handle);
    }
    EXPECT_GT(decodedBlocks, 10);  // not only failures compared
}

TEST(QuantumDecoder, MatchLongerThanTheRemainingOutputFails) {
    std::vector<uint8_t> data;
    const char* text = "abcdefgh";
    data.insert(data.end(), text, text + 8);
    while (data.size() < 200) data.push_back(data[data.size() - 8]);
    EncodedFolder folder = EncodeFolder(data, 10);
    ASSERT_GE(folder.stats.longMatches, 1u);
    std::vector<uint8_t> output(32768);
    for (uint32_t size : {9u, 50u, 199u}) {
        DecoderHandle handle = CreateDecoder(10);
        uint32_t produced = size;
        EXPECT_EQ(QuantumDecompress(handle, folder.blocks[0].data(),
                                    static_cast<uint32_t>(folder.blocks[0].size()), output.data(),
                                    &produced),
                  CAB_DECODER_DATA_ERROR)
            << size;
        QuantumDestroy(handle);
    }
}

// Every block carries exactly the bits its decoder reads (up to the padding of
// the last byte): one byte less fails, even when only the renormalisation
// after the last item needs the missing bits.
TEST(QuantumDecoder, BlockOneByteShortFails) {
    std::vector<uint8_t> data = MixedData(100000, 3);
    EncodedFolder folder = EncodeFolder(data, 16, 997);
    std::vector<uint8_t> output(32768);
    DecoderHandle handle = CreateDecoder(16);
    for (size_t i = 0; i < folder.blocks.size(); ++i) {
        const std::vector<uint8_t>& block = folder.blocks[i];
        uint32_t size = folder.sizes[i];
        uint32_t produced = size;
        // Decode the short block on a copy of the state: a fresh decoder that
        // has seen the blocks before.
        DecoderHandle shortHandle = CreateDecoder(16);
        for (size_t j = 0; j < i; ++j) {
            uint32_t s = folder.sizes[j];
            ASSERT_EQ(QuantumDecompress(shortHandle, folder.blocks[j].data(),
                                        static_cast<uint32_t>(folder.blocks[j].size()),
                                        output.data(), &s),
                      CAB_DECODER_OK);
        }
        EXPECT_EQ(
            QuantumDecompress(shortHandle, block.data(), static_cast<uint32_t>(block.size() - 1),
                              output.data(), &produced),
            CAB_DECODER_DATA_ERROR)
            << "block " << i;
        QuantumDestroy(shortHandle);
        produced = size;
        ASSERT_EQ(QuantumDecompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                    output.data(), &produced),
                  CAB_DECODER_OK);
        if (i == 6) break;
    }
    QuantumDestroy(handle);
}

TEST(QuantumDecoder, ConsecutiveBlocksShareModelsAndWindow) {
    std::vector<uint8_t> first = MixedData(32768, 21);
    std::vector<uint8_t> data = first;
    data.insert(data.end(), first.begin(), first.end());  // the second block repeats the first
    EncodedFolder folder = EncodeFolder(data, 16);
    ASSERT_EQ(folder.blocks.size(), 2u);
    EXPECT_LT(folder.blocks[1].size(), 2000u);

    DecoderHandle handle = CreateDecoder(16);
    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeFolder(handle, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);

    // After a reset the same folder decodes again from its start.
    ASSERT_EQ(QuantumReset(handle), CAB_DECODER_OK);
    ASSERT_EQ(DecodeFolder(handle, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);

    // After a reset the second block alone does not give the first's bytes.
    ASSERT_EQ(QuantumReset(handle), CAB_DECODER_OK);
    std::vector<uint8_t> output(32768);
    uint32_t size = folder.sizes[1];
    int result =
        QuantumDecompress(handle, folder.blocks[1].data(),
                          static_cast<uint32_t>(folder.blocks[1].size()), output.data(), &size);
    EXPECT_TRUE(result != CAB_DECODER_OK ||
                !std::equal(output.begin(), output.begin() + size, first.begin()));
    QuantumDestroy(handle);
}

TEST(QuantumDecoder, RefusesBadHandlesAndOversizedBlocks) {
    uint8_t input[4] = {};
    uint8_t output[16];
    uint32_t size = 16;
    EXPECT_EQ(QuantumDecompress(nullptr, input, 4, output, &size), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(QuantumReset(nullptr), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(QuantumDestroy(nullptr), CAB_DECODER_BAD_HANDLE);
    uint32_t zeros[64] = {};
    EXPECT_EQ(QuantumReset(zeros), CAB_DECODER_BAD_HANDLE);

    DecoderHandle handle = CreateDecoder(15);
    std::vector<uint8_t> big(32769);
    size = 32769;
    EXPECT_EQ(QuantumDecompress(handle, input, 4, big.data(), &size), CAB_DECODER_BAD_SIZE);
    // An empty block has no bits for the coder to start with.
    size = 1;
    EXPECT_EQ(QuantumDecompress(handle, input, 0, output, &size), CAB_DECODER_DATA_ERROR);
    QuantumDestroy(handle);
}

void* NoMemory(uint32_t) { return nullptr; }

TEST(QuantumDecoder, CreateWithoutMemoryReportsNoMemory) {
    DecoderServices services = MemoryServices();
    services.alloc = NoMemory;
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    DecoderHandle handle = nullptr;
    EXPECT_EQ(QuantumCreate(&maxBlock, 15, 0, &bufferSize, services, &handle),
              CAB_DECODER_NO_MEMORY);
    EXPECT_EQ(handle, nullptr);
}

}  // namespace
}  // namespace cab
