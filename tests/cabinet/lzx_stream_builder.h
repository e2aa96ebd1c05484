// Builds LZX bit streams by hand for the decoder's edge cases.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx_format.h"
#include "cabinet/writer/lzx_bit_writer.h"
#include "cabinet/writer/lzx_huffman_code.h"

namespace cab::lzx_test {

class StreamBuilder {
  public:
    explicit StreamBuilder(int windowBits)
        : mainElements_(lzx::NUM_CHARS + 8 * lzx::PositionSlots(windowBits)) {}

    void Translation(bool on, uint32_t size = 0) {
        bits_.Put(on ? 1 : 0, 1);
        if (on) {
            bits_.Put(size >> 16, 16);
            bits_.Put(size & 0xFFFF, 16);
        }
    }

    void BlockHeader(int type, uint32_t size) {
        bits_.Put(static_cast<uint32_t>(type), 3);
        bits_.Put((size >> 16) & 0xFF, 8);
        bits_.Put((size >> 8) & 0xFF, 8);
        bits_.Put(size & 0xFF, 8);
    }

    // Main and length trees giving equal weight to the listed symbols (none:
    // all lengths zero), sent as deltas against the previous block's trees
    // through a fixed pretree.
    void Trees(const std::vector<int>& mainSymbols, const std::vector<int>& lengthSymbols) {
        MakeLengths(mainSymbols, mainElements_, mainLengths_, mainCodes_);
        MakeLengths(lengthSymbols, lzx::LENGTH_ELEMENTS, lengthLengths_, lengthCodes_);
        WriteSegment(mainLengths_, mainPrevious_, 0, lzx::NUM_CHARS);
        WriteSegment(mainLengths_, mainPrevious_, lzx::NUM_CHARS, mainElements_);
        WriteSegment(lengthLengths_, lengthPrevious_, 0, lzx::LENGTH_ELEMENTS);
        std::copy(mainLengths_, mainLengths_ + lzx::MAX_MAIN_ELEMENTS, mainPrevious_);
        std::copy(lengthLengths_, lengthLengths_ + lzx::LENGTH_ELEMENTS, lengthPrevious_);
    }

    // Lengths are written as given, without checks (for broken trees).
    void RawMainLengths(const std::vector<uint8_t>& lengths) {
        std::fill(mainLengths_, mainLengths_ + lzx::MAX_MAIN_ELEMENTS, 0);
        std::copy(lengths.begin(), lengths.end(), mainLengths_);
        WriteSegment(mainLengths_, mainPrevious_, 0, lzx::NUM_CHARS);
        WriteSegment(mainLengths_, mainPrevious_, lzx::NUM_CHARS, mainElements_);
        WriteSegment(lengthLengths_, lengthPrevious_, 0, lzx::LENGTH_ELEMENTS);
    }

    void AlignedTree(const uint8_t (&lengths)[8]) {
        for (int i = 0; i < 8; ++i) {
            alignedLengths_[i] = lengths[i];
            bits_.Put(lengths[i], 3);
        }
        lzx::BuildCodes(alignedLengths_, 8, alignedCodes_);
    }

    void Literal(uint8_t byte) { bits_.Put(mainCodes_[byte], mainLengths_[byte]); }

    // A match of `length` bytes (2 to 257) through `slot` with its offset bits.
    void Match(int slot, uint32_t length, uint32_t footer = 0, bool aligned = false) {
        uint32_t header = length - 2 < 7 ? length - 2 : 7;
        int symbol = lzx::NUM_CHARS + slot * 8 + static_cast<int>(header);
        bits_.Put(mainCodes_[symbol], mainLengths_[symbol]);
        if (header == 7) bits_.Put(lengthCodes_[length - 9], lengthLengths_[length - 9]);
        int extra = slot < 3 ? 0 : lzx::EXTRA_BITS[slot];
        if (aligned && extra >= 3) {
            bits_.Put(footer >> 3, extra - 3);
            bits_.Put(alignedCodes_[footer & 7], alignedLengths_[footer & 7]);
        } else {
            bits_.Put(footer, extra);
        }
    }

    // Ends the bit stream for raw bytes (1 to 16 bits dropped).
    void AlignForRaw() { bits_.AlignForRaw(); }
    // The header of an uncompressed block up to its first byte: type, size,
    // alignment and the three repeated offsets it sets.
    void RawBlockHeader(uint32_t size, uint32_t r0, uint32_t r1, uint32_t r2) {
        BlockHeader(3, size);
        AlignForRaw();
        Le32(r0);
        Le32(r1);
        Le32(r2);
    }
    void Le32(uint32_t value) { bits_.PutLe32(value); }
    void Bytes(const std::vector<uint8_t>& bytes) {
        for (uint8_t byte : bytes) bits_.PutByte(byte);
    }
    void Bits(uint32_t value, int count) { bits_.Put(value, count); }

    // Completes the frame and starts the next one's bytes.
    std::vector<uint8_t> EndFrame() {
        bits_.Flush();
        std::vector<uint8_t> bytes = bits_.Bytes();
        bits_ = lzx::BitWriter();
        return bytes;
    }

    static int MainSymbol(int slot, uint32_t length) {
        uint32_t header = length - 2 < 7 ? length - 2 : 7;
        return lzx::NUM_CHARS + slot * 8 + static_cast<int>(header);
    }

  private:
    static void MakeLengths(const std::vector<int>& symbols, int count, uint8_t* lengths,
                            uint16_t* codes) {
        std::vector<uint32_t> weights(count, 0);
        for (int symbol : symbols) weights[symbol] = 1;
        lzx::BuildCodeLengths(weights.data(), count, 16, lengths);
        lzx::BuildCodes(lengths, count, codes);
    }

    // Pretree: symbols 0 to 11 get 4-bit codes, 12 to 19 5-bit codes.
    void WriteSegment(const uint8_t* lengths, const uint8_t* previous, int first, int end) {
        uint8_t pretreeLengths[20];
        uint16_t pretreeCodes[20];
        for (int i = 0; i < 20; ++i) pretreeLengths[i] = i < 12 ? 4 : 5;
        lzx::BuildCodes(pretreeLengths, 20, pretreeCodes);
        for (uint8_t length : pretreeLengths) bits_.Put(length, 4);
        for (int i = first; i < end; ++i) {
            int symbol = (previous[i] + 17 - lengths[i]) % 17;
            bits_.Put(pretreeCodes[symbol], pretreeLengths[symbol]);
        }
    }

    int mainElements_;
    lzx::BitWriter bits_;
    uint8_t mainLengths_[lzx::MAX_MAIN_ELEMENTS] = {};
    uint8_t mainPrevious_[lzx::MAX_MAIN_ELEMENTS] = {};
    uint16_t mainCodes_[lzx::MAX_MAIN_ELEMENTS] = {};
    uint8_t lengthLengths_[lzx::LENGTH_ELEMENTS] = {};
    uint8_t lengthPrevious_[lzx::LENGTH_ELEMENTS] = {};
    uint16_t lengthCodes_[lzx::LENGTH_ELEMENTS] = {};
    uint8_t alignedLengths_[8] = {};
    uint16_t alignedCodes_[8] = {};
};

}  // namespace cab::lzx_test
