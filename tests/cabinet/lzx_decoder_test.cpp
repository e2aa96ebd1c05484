// The LZX decoder on hand-built bit streams: block kinds, repeated offsets,
// trees, call translation and every failure case.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/cabinet/lzx_stream_builder.h"
#include "tests/cabinet/lzx_test_support.h"

namespace cab {
namespace {

using lzx_test::Decoder;
using lzx_test::StreamBuilder;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// Decodes one frame of `size` bytes with a fresh decoder: the text it gives,
// or "decoder result N" when it fails.
std::string DecodeOneFrame(int windowBits, const std::vector<uint8_t>& frame, uint32_t size) {
    Decoder decoder(windowBits);
    std::vector<uint8_t> out;
    const int result = decoder.Decode(frame, size, out);
    if (result != CAB_DECODER_OK) return "decoder result " + std::to_string(result);
    return Text(out);
}

// Literals "abcdefgh" and matches through every kind of slot:
// slots 4 to 6 take new offsets, 0 to 2 the repeated ones, 3 is offset 1.
TEST(LzxDecoder, RepeatedOffsetsAndSlotThree) {
    StreamBuilder s(15);
    s.Translation(false);
    s.BlockHeader(1, 26);
    std::vector<int> symbols = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'z'};
    for (auto [slot, length] : {std::pair{6, 2}, {5, 2}, {4, 2}, {2, 2}, {1, 2}, {0, 3}, {3, 3}}) {
        symbols.push_back(StreamBuilder::MainSymbol(slot, static_cast<uint32_t>(length)));
    }
    s.Trees(symbols, {});  // no match needs the length tree: all its lengths are zero
    for (char c : std::string("abcdefgh")) s.Literal(static_cast<uint8_t>(c));
    s.Match(6, 2, 0);  // offset 6                       R = 6 1 1
    s.Match(5, 2, 0);  // offset 4                       R = 4 6 1
    s.Match(4, 2, 1);  // offset 3                       R = 3 4 6
    s.Match(2, 2);     // R2 (6), swapped with R0        R = 6 4 3
    s.Match(1, 2);     // R1 (4), swapped with R0        R = 4 6 3
    s.Match(0, 3);     // R0 (4), nothing changes
    s.Match(3, 3);     // offset 1 without offset bits   R = 1 4 6
    s.Match(2, 2);     // R2 (6)
    EXPECT_EQ(DecodeOneFrame(15, s.EndFrame(), 26), "abcdefghcdghdgcddgcdddddcd");
}

// A block of size 0 is followed directly by the next header; its trees are
// the base of the next block's deltas.
TEST(LzxDecoder, ZeroSizeBlockThenNextHeader) {
    StreamBuilder s(16);
    s.Translation(false);
    s.BlockHeader(1, 0);
    s.Trees({'x', 'y', 'q', 'r'}, {3, 4});
    s.BlockHeader(1, 5);
    s.Trees({'x', 'y', 'z', StreamBuilder::MainSymbol(3, 2)}, {});
    s.Literal('z');
    s.Literal('x');
    s.Literal('y');
    s.Match(3, 2);
    EXPECT_EQ(DecodeOneFrame(16, s.EndFrame(), 5), "zxyyy");
}

// Aligned-offset block: offsets of slots with 3 or more extra bits take their
// low 3 bits from the aligned tree; long matches use the length tree.
TEST(LzxDecoder, AlignedBlockAndLengthTree) {
    StreamBuilder s(15);
    s.Translation(false);
    std::string literals;
    for (int i = 0; i < 48; ++i) literals.push_back(static_cast<char>('0' + i));
    s.BlockHeader(2, 48 + 5 + 20);
    const uint8_t aligned[8] = {2, 2, 3, 3, 3, 3, 0, 0};
    s.AlignedTree(aligned);
    std::vector<int> symbols(literals.begin(), literals.end());
    symbols.push_back(StreamBuilder::MainSymbol(10, 5));
    symbols.push_back(StreamBuilder::MainSymbol(0, 20));
    s.Trees(symbols, {20 - 9});
    for (char c : literals) s.Literal(static_cast<uint8_t>(c));
    // Slot 10: base 32, 4 extra bits; 13 = one verbatim bit 1, aligned symbol 5.
    s.Match(10, 5, 13, true);  // offset 32 + 13 - 2 = 43
    s.Match(0, 20);
    std::string expected = literals + literals.substr(5, 5) + literals.substr(10, 20);
    EXPECT_EQ(DecodeOneFrame(15, s.EndFrame(), 73), expected);
}

// An uncompressed block of odd size is followed by a padding byte; its header
// sets the repeated offsets; the next block's bit stream starts after it.
TEST(LzxDecoder, UncompressedOddBlockAndPadding) {
    StreamBuilder s(15);
    s.Translation(false);
    s.RawBlockHeader(3, 2, 3, 4);
    s.Bytes(Bytes("xyz"));
    s.Bytes({0xAA});  // padding
    s.BlockHeader(1, 3);
    s.Trees({'q', StreamBuilder::MainSymbol(0, 2)}, {});
    s.Literal('q');
    s.Match(0, 2);  // R0 = 2 from the raw block's header
    EXPECT_EQ(DecodeOneFrame(15, s.EndFrame(), 6), "xyzqzq");
}

// A block longer than the frame continues in the next frame, whose bit
// stream starts again at its first word; a raw block continues raw.
TEST(LzxDecoder, BlocksRunAcrossFrames) {
    StreamBuilder s(15);
    s.Translation(false);
    s.BlockHeader(1, 6);
    s.Trees({'a', 'b', 'c', 'd'}, {});
    for (char c : std::string("abc")) s.Literal(static_cast<uint8_t>(c));
    std::vector<uint8_t> first = s.EndFrame();
    for (char c : std::string("dab")) s.Literal(static_cast<uint8_t>(c));
    s.RawBlockHeader(5, 1, 1, 1);
    s.Bytes(Bytes("RA"));
    std::vector<uint8_t> second = s.EndFrame();
    std::vector<uint8_t> third = Bytes("WXY");
    third.push_back(0);  // padding of the odd raw block, then the next header
    s.BlockHeader(1, 1);
    s.Trees({'!', '?'}, {});
    s.Literal('!');
    std::vector<uint8_t> rest = s.EndFrame();
    third.insert(third.end(), rest.begin(), rest.end());

    Decoder decoder(15);
    std::vector<uint8_t> out;
    ASSERT_EQ(decoder.Decode(first, 3, out), CAB_DECODER_OK);
    EXPECT_EQ(Text(out), "abc");
    ASSERT_EQ(decoder.Decode(second, 5, out), CAB_DECODER_OK);
    EXPECT_EQ(Text(out), "dabRA");
    ASSERT_EQ(decoder.Decode(third, 4, out), CAB_DECODER_OK);
    EXPECT_EQ(Text(out), "WXY!");
}

// Frames of one raw block with call translation on.
std::vector<uint8_t> TranslatedRawFrame(StreamBuilder& s, uint32_t translationSize,
                                        uint32_t blockSize, const std::vector<uint8_t>& bytes) {
    s.Translation(true, translationSize);
    s.RawBlockHeader(blockSize, 1, 1, 1);
    s.Bytes(bytes);
    return s.EndFrame();
}

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    std::memcpy(&bytes[at], &value, 4);
}

uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value;
    std::memcpy(&value, &bytes[at], 4);
    return value;
}

// Each operand at its boundary: an E8 byte at stream offset `at` with operand
// `value` becomes `expected`.
TEST(LzxDecoder, CallTranslationRules) {
    const uint32_t size = 1000000;
    struct Case {
        uint32_t value;
        uint32_t expected;
    };
    // The second frame's E8 bytes are at stream offsets 100, 110, ...
    auto at = [](size_t i) { return static_cast<uint32_t>(100 + 10 * i); };
    const Case cases[] = {
        {0, 0u - at(0)},                    // 0 <= value < size: value - at
        {50, 50 - at(1)},                   // an ordinary call
        {size - 1, size - 1 - at(2)},       // the largest translated forward
        {size, size},                       // size and above: unchanged
        {0u - at(4), 0u - at(4) + size},    // -at, the smallest negative translated
        {0u - at(5) - 1, 0u - at(5) - 1},   // -(at + 1): unchanged
        {0xFFFFFFFFu, 0xFFFFFFFFu + size},  // -1
        {0x80000000u, 0x80000000u},         // the most negative: unchanged
    };
    std::vector<uint8_t> first(100, 0x11);
    std::vector<uint8_t> frame(100, 0x22);
    for (size_t i = 0; i < std::size(cases); ++i) {
        frame[10 * i] = 0xE8;
        PutLe32(frame, 10 * i + 1, cases[i].value);
    }
    frame[93] = 0xE8;  // L - 7: its operand is made of sentinel bytes and thrown away
    frame[94] = 0xE8;  // L - 6 and after: never examined
    PutLe32(frame, 95, 7);
    StreamBuilder s(15);
    Decoder decoder(15);
    std::vector<uint8_t> out;
    ASSERT_EQ(decoder.Decode(TranslatedRawFrame(s, size, 205, first), 100, out), CAB_DECODER_OK);
    ASSERT_EQ(decoder.Decode(frame, 100, out), CAB_DECODER_OK);
    std::vector<uint8_t> expected = frame;
    for (size_t i = 0; i < std::size(cases); ++i) PutLe32(expected, 10 * i + 1, cases[i].expected);
    EXPECT_EQ(out, expected);

    // A frame shorter than 6 bytes is never translated, but counts for the
    // stream position of the next frame.
    std::vector<uint8_t> shortFrame = {0xE8, 10, 0, 0, 0};
    ASSERT_EQ(decoder.Decode(shortFrame, 5, out), CAB_DECODER_OK);
    EXPECT_EQ(out, shortFrame);
}

TEST(LzxDecoder, CallTranslationEndsAfter32768Frames) {
    // One raw block over 32769 frames of 16 bytes, each starting with a call
    // to absolute address 0: translated to -position until the 32768th frame.
    const uint32_t frames = 32769;
    std::vector<uint8_t> bytes = {0xE8, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    StreamBuilder s(19);
    Decoder decoder(19);
    std::vector<uint8_t> first = TranslatedRawFrame(s, 1u << 20, 16 * frames, bytes);
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(decoder.Decode(i == 0 ? first : bytes, 16, out), CAB_DECODER_OK);
        uint32_t expected = i < 32768 ? 0u - 16 * i : 0;
        ASSERT_EQ(GetLe32(out, 1), expected) << "frame " << i;
    }
    // After a reset the header bit is read again and frames count from 0.
    ASSERT_EQ(LzxReset(decoder.handle), CAB_DECODER_OK);
    StreamBuilder again(19);
    ASSERT_EQ(decoder.Decode(TranslatedRawFrame(again, 1u << 20, 32, bytes), 16, out),
              CAB_DECODER_OK);
    ASSERT_EQ(decoder.Decode(bytes, 16, out), CAB_DECODER_OK);
    EXPECT_EQ(GetLe32(out, 1), 0u - 16);
}

TEST(LzxDecoder, BadBlockTypes) {
    for (int type : {0, 4, 5, 6, 7}) {
        StreamBuilder s(15);
        s.Translation(false);
        s.BlockHeader(type, 10);
        s.Bits(0, 32);
        Decoder decoder(15);
        std::vector<uint8_t> out;
        EXPECT_EQ(decoder.Decode(s.EndFrame(), 10, out), CAB_DECODER_DATA_ERROR) << type;
    }
}

TEST(LzxDecoder, BrokenTrees) {
    // Over-subscribed: three codes of length 1. Incomplete: one code of length 2.
    for (const std::vector<uint8_t>& lengths :
         {std::vector<uint8_t>{1, 1, 1}, std::vector<uint8_t>{2}}) {
        StreamBuilder s(15);
        s.Translation(false);
        s.BlockHeader(1, 4);
        s.RawMainLengths(lengths);
        s.Bits(0, 32);
        Decoder decoder(15);
        std::vector<uint8_t> out;
        EXPECT_EQ(decoder.Decode(s.EndFrame(), 4, out), CAB_DECODER_DATA_ERROR);
    }
}

// A stream that fits its frame: literals "abcd" then a match.
std::vector<uint8_t> SmallStream(int matchLength) {
    StreamBuilder s(15);
    s.Translation(false);
    s.BlockHeader(1, static_cast<uint32_t>(4 + matchLength));
    s.Trees({'a', 'b', 'c', 'd', StreamBuilder::MainSymbol(3, static_cast<uint32_t>(matchLength))},
            {});
    for (char c : std::string("abcd")) s.Literal(static_cast<uint8_t>(c));
    s.Match(3, static_cast<uint32_t>(matchLength));
    return s.EndFrame();
}

TEST(LzxDecoder, MatchMustNotPassTheFrameEnd) {
    Decoder decoder(15);
    std::vector<uint8_t> out;
    EXPECT_EQ(decoder.Decode(SmallStream(4), 6, out), CAB_DECODER_DATA_ERROR);
    Decoder whole(15);
    ASSERT_EQ(whole.Decode(SmallStream(4), 8, out), CAB_DECODER_OK);
    EXPECT_EQ(Text(out), "abcddddd");
}

TEST(LzxDecoder, TruncatedFrames) {
    auto data = lzx_test::TextData(32768, 21);
    LzxEncoderOptions options;
    options.windowBits = 15;
    for (int type : {1, 2, 3}) {
        options.forcedBlockType = type;
        auto frames = lzx_test::Encode(data, options);
        ASSERT_EQ(frames.size(), 1u);
        std::vector<uint8_t> cut(frames[0].data.begin(),
                                 frames[0].data.begin() + frames[0].data.size() * 3 / 4);
        Decoder decoder(15);
        std::vector<uint8_t> out;
        EXPECT_EQ(decoder.Decode(cut, 32768, out), CAB_DECODER_DATA_ERROR) << type;
        Decoder empty(15);
        EXPECT_EQ(empty.Decode({}, 32768, out), CAB_DECODER_DATA_ERROR) << type;
    }
}

// Frames never wrap around the window's end; a frame that would is refused
// instead of writing past the window.
TEST(LzxDecoder, FrameCrossingTheWindowEndIsRefused) {
    StreamBuilder s(15);
    s.Translation(false);
    s.RawBlockHeader(40000, 1, 1, 1);
    s.Bytes(std::vector<uint8_t>(30000, 7));
    Decoder decoder(15);
    std::vector<uint8_t> out;
    ASSERT_EQ(decoder.Decode(s.EndFrame(), 30000, out), CAB_DECODER_OK);
    EXPECT_EQ(decoder.Decode(std::vector<uint8_t>(10000, 7), 10000, out), CAB_DECODER_DATA_ERROR);
}

// Matches of every short distance, with the source behind the write position
// or, in the window's second pass, just ahead of it (offsets close to the
// window size), decode as byte-by-byte copies would.
TEST(LzxDecoder, MatchesOfEveryShortDistanceInBothDirections) {
    const uint32_t window = 1u << 15;
    std::vector<uint8_t> history = lzx_test::RandomData(window, 5);
    StreamBuilder s(15);
    s.Translation(false);
    s.RawBlockHeader(window, 1, 1, 1);
    s.Bytes(history);
    std::vector<lzx_test::Frame> frames = {{s.EndFrame(), window}};

    std::vector<std::pair<uint32_t, uint32_t>> matches;  // offset, length
    const uint32_t lengths[] = {17, 33, 50, 9};
    for (uint32_t d = 1; d <= 20; ++d) matches.push_back({d, lengths[d % 4]});
    for (uint32_t d = 3; d <= 20; ++d) matches.push_back({window - d, lengths[d % 4]});
    std::vector<int> symbols;
    for (int c = 'a'; c <= 'z'; ++c) symbols.push_back(c);
    for (auto [offset, length] : matches) {
        symbols.push_back(StreamBuilder::MainSymbol(lzx::PositionSlotOf(offset + 2), length));
    }
    uint32_t blockSize = 300;
    for (auto match : matches) blockSize += match.second;
    auto copy = [&history](uint32_t offset, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i) history.push_back(history[history.size() - offset]);
    };
    s.BlockHeader(1, blockSize);
    s.Trees(symbols, {9 - 9, 17 - 9, 33 - 9, 50 - 9});
    for (int i = 0; i < 300; ++i) {
        s.Literal(static_cast<uint8_t>('a' + i % 26));
        history.push_back(static_cast<uint8_t>('a' + i % 26));
    }
    for (auto [offset, length] : matches) {
        int slot = lzx::PositionSlotOf(offset + 2);
        s.Match(slot, length, offset + 2 - lzx::POSITION_BASE[slot]);
        copy(offset, length);
    }
    // Sources 1 and 2 bytes ahead need offsets no slot reaches: a raw block
    // sets them as repeated offsets.
    s.RawBlockHeader(2, window - 1, window - 2, 1);
    s.Bytes({'x', 'y'});
    history.push_back('x');
    history.push_back('y');
    s.BlockHeader(1, 66);
    s.Trees({'a', StreamBuilder::MainSymbol(0, 33), StreamBuilder::MainSymbol(1, 33)}, {33 - 9});
    s.Match(0, 33);
    copy(window - 1, 33);
    s.Match(1, 33);
    copy(window - 2, 33);
    frames.push_back({s.EndFrame(), blockSize + 2 + 66});

    Decoder decoder(15);
    std::vector<uint8_t> out;
    ASSERT_EQ(decoder.DecodeAll(frames, out), CAB_DECODER_OK);
    EXPECT_EQ(out, history);
}

TEST(LzxDecoder, ResetStartsAFreshFolder) {
    Decoder decoder(15);
    std::vector<uint8_t> out;
    ASSERT_EQ(decoder.Decode(SmallStream(3), 7, out), CAB_DECODER_OK);
    // Without a reset the next frame would expect no E8 header bit.
    ASSERT_EQ(LzxReset(decoder.handle), CAB_DECODER_OK);
    ASSERT_EQ(decoder.Decode(SmallStream(3), 7, out), CAB_DECODER_OK);
    EXPECT_EQ(Text(out), "abcdddd");
}

void* FailingAlloc(uint32_t) { return nullptr; }

TEST(LzxDecoder, InterfaceResults) {
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    EXPECT_EQ(LzxQuery(&maxBlock, 1u << 21, &bufferSize), CAB_DECODER_OK);
    EXPECT_EQ(bufferSize, 38912u);

    DecoderServices services;
    services.alloc = lzx_test::TestAlloc;
    services.free = lzx_test::TestFree;
    DecoderHandle handle = nullptr;
    EXPECT_EQ(LzxCreate(&maxBlock, 3 << 15, &bufferSize, services, &handle), CAB_DECODER_NO_MEMORY);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(LzxCreate(&maxBlock, 1u << 22, &bufferSize, services, &handle),
              CAB_DECODER_BAD_PARAMETER);
    services.alloc = FailingAlloc;
    EXPECT_EQ(LzxCreate(&maxBlock, 1u << 15, &bufferSize, services, &handle),
              CAB_DECODER_NO_MEMORY);

    Decoder decoder(15);
    std::vector<uint8_t> out(32769);
    uint32_t size = 32769;
    uint8_t input[4] = {};
    EXPECT_EQ(LzxDecompress(decoder.handle, input, 4, out.data(), &size), CAB_DECODER_BAD_SIZE);
    uint32_t notAHandle[8] = {};
    EXPECT_EQ(LzxDecompress(notAHandle, input, 4, out.data(), &size), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(LzxReset(notAHandle), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(LzxDestroy(notAHandle), CAB_DECODER_BAD_HANDLE);
    EXPECT_EQ(LzxDestroy(nullptr), CAB_DECODER_BAD_HANDLE);
}

}  // namespace
}  // namespace cab
