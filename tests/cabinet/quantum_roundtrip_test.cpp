#include <gtest/gtest.h>

#include <random>

#include "tests/cabinet/quantum_test_support.h"

namespace cab {
namespace {

using namespace quantum_test;

TEST(QuantumRoundTrip, EveryWindowExponent) {
    std::vector<uint8_t> data = MixedData(300000, 7);
    for (int bits = 10; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        EncodedFolder folder = EncodeFolder(data, bits);
        DecoderHandle handle = CreateDecoder(bits);
        ASSERT_NE(handle, nullptr);
        std::vector<uint8_t> out;
        EXPECT_EQ(DecodeFolder(handle, folder, out), CAB_DECODER_OK);
        EXPECT_TRUE(out == data);
        EXPECT_EQ(QuantumDestroy(handle), CAB_DECODER_OK);
    }
}

}  // namespace
}  // namespace cab

namespace cab {
namespace {

using namespace quantum_test;

// Random bytes with copies planted at the smallest and largest distance of
// every position slot and with lengths at both ends of every length slot;
// short copies of exactly 3 and 4 bytes within their models' reach.
std::vector<uint8_t> PlantedMatches(int windowBits, uint32_t seed) {
    std::mt19937 random(seed);
    const uint32_t windowSize = 1u << windowBits;
    const size_t prefix = windowSize + 5000;
    std::vector<uint8_t> data(prefix);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    auto fresh = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) data.push_back(static_cast<uint8_t>(random()));
    };
    // Copies only from random bytes never copied before, so that the planted
    // distance is the only one the encoder can find.
    auto copy = [&](uint32_t distance, uint32_t length) {
        if (data.size() - distance + length > prefix) fresh(distance + 8);
        size_t from = data.size() - distance;
        for (uint32_t i = 0; i < length; ++i) data.push_back(data[from + i]);
        fresh(3);
    };
    int lengthSlot = 0;
    for (int slot = 2 * windowBits - 1; slot >= 0; --slot) {
        const uint32_t low = QUANTUM_SLOTS.positionBase[slot] + 1;
        const uint32_t high =
            QUANTUM_SLOTS.positionBase[slot] + (1u << QUANTUM_SLOTS.positionExtra[slot]);
        for (uint32_t distance : {high, low}) {
            for (int end = 0; end < 2;
                 ++end, lengthSlot = (lengthSlot + 1) % QUANTUM_LENGTH_SLOTS) {
                uint32_t length = QUANTUM_SLOTS.lengthBase[lengthSlot] + 5;
                if (end) length += (1u << QUANTUM_SLOTS.lengthExtra[lengthSlot]) - 1;
                copy(distance, length);
            }
            if (distance <= QUANTUM_LENGTH3_LIMIT) copy(distance, 3);
            if (distance <= QUANTUM_LENGTH4_LIMIT) copy(distance, 4);
        }
    }
    return data;
}

TEST(QuantumRoundTrip, EveryPositionAndLengthSlotWithEveryExtraBitSize) {
    for (int bits : {10, 16, 21}) {
        SCOPED_TRACE(bits);
        std::vector<uint8_t> data = PlantedMatches(bits, 40 + bits);
        EncodedFolder folder = EncodeFolder(data, bits);
        const QuantumEncoderStats& stats = folder.stats;
        const int slots = 2 * bits;
        for (int slot = 0; slot < std::min(24, slots); ++slot) {
            EXPECT_GT(stats.positionSlots[0][slot], 0u) << "length 3, slot " << slot;
        }
        for (int slot = 0; slot < std::min(36, slots); ++slot) {
            EXPECT_GT(stats.positionSlots[1][slot], 0u) << "length 4, slot " << slot;
        }
        for (int slot = 0; slot < slots; ++slot) {
            EXPECT_GT(stats.positionSlots[2][slot], 0u) << "longer, slot " << slot;
        }
        for (int slot = 0; slot < QUANTUM_LENGTH_SLOTS; ++slot) {
            EXPECT_GT(stats.lengthSlots[slot], 0u) << "length slot " << slot;
        }
        DecoderHandle handle = CreateDecoder(bits);
        std::vector<uint8_t> out;
        EXPECT_EQ(DecodeFolder(handle, folder, out), CAB_DECODER_OK);
        EXPECT_TRUE(out == data);
        QuantumDestroy(handle);
    }
}

// Long enough for the selector model (coded with every item) and the literal
// models to pass their second re-sort (the 54th rescale), with the decoder
// following every re-sort.
TEST(QuantumRoundTrip, PastTheSecondResortOfTheBusiestModels) {
    std::vector<uint8_t> data = MixedData(1500000, 99);
    QuantumEncoder encoder(18);
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t offset = 0; offset < data.size(); offset += 32768) {
        uint32_t size = static_cast<uint32_t>(std::min<size_t>(32768, data.size() - offset));
        blocks.emplace_back();
        ASSERT_TRUE(encoder.EncodeFrame(data.data() + offset, size, false, blocks.back()));
    }
    const QuantumModels& models = encoder.models();
    EXPECT_GE(models.selector.rescales, 54u);
    for (const QuantumModel& literal : models.literal) EXPECT_GE(literal.rescales, 54u);

    DecoderHandle handle = CreateDecoder(18);
    std::vector<uint8_t> buffer(32768);
    for (size_t i = 0; i < blocks.size(); ++i) {
        uint32_t size = static_cast<uint32_t>(std::min<size_t>(32768, data.size() - i * 32768));
        ASSERT_EQ(QuantumDecompress(handle, blocks[i].data(),
                                    static_cast<uint32_t>(blocks[i].size()), buffer.data(), &size),
                  CAB_DECODER_OK);
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + size, data.begin() + i * 32768));
    }
    QuantumDestroy(handle);
}

}  // namespace
}  // namespace cab
