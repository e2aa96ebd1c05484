// Round trips through the LZX encoder and decoder, frame by frame.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/cabinet/lzx_test_support.h"

namespace cab {
namespace {

using lzx_test::Decoder;
using lzx_test::Encode;
using lzx_test::Frame;

void ExpectRoundTrip(const std::vector<uint8_t>& data, const LzxEncoderOptions& options) {
    std::vector<Frame> frames = Encode(data, options);
    ASSERT_FALSE(frames.empty());
    Decoder decoder(options.windowBits);
    ASSERT_EQ(decoder.createResult, CAB_DECODER_OK);
    std::vector<uint8_t> output;
    ASSERT_EQ(decoder.DecodeAll(frames, output), CAB_DECODER_OK);
    ASSERT_EQ(output.size(), data.size());
    EXPECT_TRUE(output == data);
}

TEST(LzxRoundTrip, TextEveryBlockType) {
    auto data = lzx_test::TextData(100000, 1);
    for (int type = 0; type <= 3; ++type) {
        SCOPED_TRACE(type);
        LzxEncoderOptions options;
        options.windowBits = 16;
        options.forcedBlockType = type;
        ExpectRoundTrip(data, options);
    }
}

TEST(LzxRoundTrip, EveryWindowSize) {
    auto data = lzx_test::TextData(150000, 2);
    for (int bits = 15; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        LzxEncoderOptions options;
        options.windowBits = bits;
        ExpectRoundTrip(data, options);
    }
}

// Several passes over a small window: matches reach across its end, the
// mirror of its first bytes is used and frames land at every window position.
TEST(LzxRoundTrip, LongInputWrapsTheWindow) {
    std::vector<uint8_t> data;
    auto text = lzx_test::TextData(50000, 3);
    auto noise = lzx_test::RandomData(20000, 4);
    for (int i = 0; i < 6; ++i) {
        data.insert(data.end(), text.begin(), text.end());
        data.insert(data.end(), noise.begin() + i * 1000, noise.end());
    }
    for (int bits : {15, 16, 17}) {
        SCOPED_TRACE(bits);
        LzxEncoderOptions options;
        options.windowBits = bits;
        ExpectRoundTrip(data, options);
    }
}

// Pieces of noise in random order: each piece is found again at a new
// distance, also once the encoder's history has dropped its oldest bytes.
TEST(LzxRoundTrip, RepeatsAreFoundAtEveryDistance) {
    const auto pool = lzx_test::RandomData(20000, 12);
    std::mt19937 random(13);
    std::vector<uint8_t> data;
    while (data.size() < 400000) {
        const size_t piece = random() % 20 * 1000;
        data.insert(data.end(), pool.begin() + piece, pool.begin() + piece + 1000);
    }
    LzxEncoderOptions options;
    options.windowBits = 16;
    ExpectRoundTrip(data, options);
    size_t compressed = 0;
    for (const Frame& frame : Encode(data, options)) compressed += frame.data.size();
    EXPECT_LT(compressed, 2 * pool.size()) << compressed;
}

TEST(LzxRoundTrip, BlocksSpanningFrames) {
    auto data = lzx_test::TextData(5 * 32768 + 1234, 5);
    for (int type = 0; type <= 2; ++type) {
        SCOPED_TRACE(type);
        LzxEncoderOptions options;
        options.windowBits = 17;
        options.blockFrames = 3;
        options.forcedBlockType = type;
        std::vector<Frame> frames = Encode(data, options);
        ASSERT_EQ(frames.size(), 6u);
        ExpectRoundTrip(data, options);
    }
}

TEST(LzxRoundTrip, IncompressibleStretchesGoUncompressed) {
    auto data = lzx_test::TextData(40000, 6);
    auto noise = lzx_test::RandomData(70001, 7);
    data.insert(data.end(), noise.begin(), noise.end());
    auto tail = lzx_test::TextData(30000, 8);
    data.insert(data.end(), tail.begin(), tail.end());
    LzxEncoderOptions options;
    options.windowBits = 16;
    std::vector<Frame> frames = Encode(data, options);
    ASSERT_EQ(frames.size(), 5u);
    // A frame of noise costs its size plus the raw block's header.
    EXPECT_LE(frames[2].data.size(), 32768u + 20u);
    ExpectRoundTrip(data, options);
    // An odd-sized raw block at the end of the input.
    options.forcedBlockType = 3;
    ExpectRoundTrip(noise, options);
}

// Machine code-like data: many 0xE8 bytes followed by operands, some near the
// ends of frames.
TEST(LzxRoundTrip, CallTranslation) {
    std::vector<uint8_t> data = lzx_test::RandomData(200000, 9);
    std::mt19937 random(10);
    for (size_t i = 0; i + 5 < data.size(); i += 3 + random() % 20) {
        data[i] = 0xE8;
        int32_t target = static_cast<int32_t>(random() % 400000) - 200000;
        std::memcpy(&data[i + 1], &target, 4);
    }
    for (size_t frameEnd = 32768; frameEnd < data.size(); frameEnd += 32768) {
        for (size_t back = 1; back <= 12; ++back) data[frameEnd - back] = back % 2 ? 0xE8 : 0x01;
    }
    for (int type = 0; type <= 3; ++type) {
        SCOPED_TRACE(type);
        LzxEncoderOptions options;
        options.windowBits = 18;
        options.translateE8 = true;
        options.forcedBlockType = type;
        ExpectRoundTrip(data, options);
    }
}

TEST(LzxRoundTrip, ShortInputs) {
    for (size_t size : {1u, 2u, 5u, 6u, 7u, 11u, 300u}) {
        SCOPED_TRACE(size);
        auto data = lzx_test::TextData(size, 11);
        for (int type = 0; type <= 3; ++type) {
            LzxEncoderOptions options;
            options.windowBits = 15;
            options.forcedBlockType = type;
            options.translateE8 = size % 2 == 1;
            ExpectRoundTrip(data, options);
        }
    }
}

}  // namespace
}  // namespace cab
