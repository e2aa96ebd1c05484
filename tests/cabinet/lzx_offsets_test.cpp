// LZX match offsets against a plain model: every position slot of the largest
// window in verbatim and aligned blocks, mixed with repeated-offset matches.
#include <gtest/gtest.h>

#include "tests/cabinet/lzx_stream_builder.h"
#include "tests/cabinet/lzx_test_support.h"

namespace cab {
namespace {

using lzx_test::Decoder;
using lzx_test::StreamBuilder;

// The decoded stream so far and the repeated offsets, updated as the format
// says: slot 0 uses R0, slots 1 and 2 exchange R1 or R2 with R0, others shift.
struct Model {
    std::vector<uint8_t> bytes;
    uint32_t r[3] = {1, 1, 1};

    void Match(int slot, uint32_t formatted, uint32_t length) {
        uint32_t offset;
        if (slot < 3) {
            offset = r[slot];
            std::swap(r[0], r[slot]);
        } else {
            offset = formatted - 2;
            r[2] = r[1];
            r[1] = r[0];
            r[0] = offset;
        }
        for (uint32_t i = 0; i < length; ++i) bytes.push_back(bytes[bytes.size() - offset]);
    }
};

TEST(LzxOffsets, EverySlotInVerbatimAndAlignedBlocksWithRepeatedOffsets) {
    const int windowBits = 21;
    const uint32_t window = 1u << windowBits;
    const int slots = lzx::PositionSlots(windowBits);
    // Lengths of every main-tree length header, and long ones through the length tree.
    const uint32_t lengths[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 40, 257};
    for (int blockType : {1, 2}) {
        SCOPED_TRACE(blockType == 1 ? "verbatim" : "aligned");
        Model model;
        model.bytes = lzx_test::RandomData(window, 9);
        StreamBuilder s(windowBits);
        s.Translation(false);
        s.RawBlockHeader(window, 1, 1, 1);
        s.Bytes(model.bytes);
        std::vector<lzx_test::Frame> frames;
        std::vector<uint8_t> stream = s.EndFrame();
        for (uint32_t at = 0; at < window; at += 32768) {
            // The first frame carries the header; the rest are the raw bytes.
            size_t header = stream.size() - window;
            auto first = stream.begin() + static_cast<long>(at == 0 ? 0 : header + at);
            auto last = stream.begin() + static_cast<long>(header + at + 32768);
            frames.push_back({std::vector<uint8_t>(first, last), 32768});
        }

        // Every slot with a new offset (footer bits alternating, so that both
        // the verbatim and the aligned part of an offset are nonzero), each
        // followed by two repeated-offset matches: every pair of slots 0, 1, 2.
        struct Item {
            int slot;
            uint32_t footer;
            uint32_t length;
        };
        std::vector<Item> items;
        for (int slot = 3; slot < slots; ++slot) {
            const int extra = lzx::EXTRA_BITS[slot];
            const uint32_t footer = (0x2AAAAu >> (slot & 1)) & ((1u << extra) - 1);
            items.push_back({slot, footer, lengths[slot % 11]});
            items.push_back({slot % 3, 0, lengths[(slot + 5) % 11]});
            items.push_back({slot / 3 % 3, 0, lengths[(slot + 7) % 11]});
        }
        std::vector<int> mainSymbols;
        std::vector<int> lengthSymbols;
        uint32_t blockSize = 0;
        for (const Item& item : items) {
            mainSymbols.push_back(StreamBuilder::MainSymbol(item.slot, item.length));
            if (item.length >= 9) lengthSymbols.push_back(static_cast<int>(item.length - 9));
            blockSize += item.length;
        }
        s.BlockHeader(blockType, blockSize);
        if (blockType == 2) {
            const uint8_t aligned[8] = {1, 2, 3, 4, 5, 6, 7, 7};
            s.AlignedTree(aligned);
        }
        s.Trees(mainSymbols, lengthSymbols);
        for (const Item& item : items) {
            s.Match(item.slot, item.length, item.footer, blockType == 2);
            model.Match(item.slot, lzx::POSITION_BASE[item.slot] + item.footer, item.length);
        }
        frames.push_back({s.EndFrame(), blockSize});

        Decoder decoder(windowBits);
        std::vector<uint8_t> out;
        ASSERT_EQ(decoder.DecodeAll(frames, out), CAB_DECODER_OK);
        ASSERT_EQ(out.size(), model.bytes.size());
        EXPECT_TRUE(out == model.bytes);
    }
}

}  // namespace
}  // namespace cab
