// Writing the symbols of verbatim and aligned-offset LZX blocks: the trees,
// sent as deltas against the previous block's through pretrees, and the
// literals and matches coded with them.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx_format.h"
#include "cabinet/writer/lzx_bit_writer.h"

namespace cab::lzx {

inline constexpr uint16_t NO_LENGTH_SYMBOL = 0xFFFF;

// One literal or match as it is coded.
struct Item {
    uint16_t mainSymbol;    // byte, or 256 + slot * 8 + length header
    uint16_t lengthSymbol;  // NO_LENGTH_SYMBOL unless the length header is 7
    uint32_t footer;        // offset bits after the slot
    uint8_t footerBits;
};

struct Trees {
    int mainElements = 0;
    uint8_t mainLengths[MAX_MAIN_ELEMENTS] = {};
    uint16_t mainCodes[MAX_MAIN_ELEMENTS] = {};
    uint8_t lengthLengths[LENGTH_ELEMENTS] = {};
    uint16_t lengthCodes[LENGTH_ELEMENTS] = {};
    uint8_t alignedLengths[ALIGNED_ELEMENTS] = {};
    uint16_t alignedCodes[ALIGNED_ELEMENTS] = {};
};

struct SymbolCounts {
    uint32_t main[MAX_MAIN_ELEMENTS] = {};
    uint32_t length[LENGTH_ELEMENTS] = {};
    uint32_t aligned[ALIGNED_ELEMENTS] = {};

    void Add(const std::vector<Item>& items);
};

// Trees for the counted symbols. With `everySymbol` each symbol of every tree
// gets a code, so that later frames of a block can code whatever they meet.
void BuildTrees(const SymbolCounts& counts, int mainElements, bool everySymbol, Trees& trees);

// The aligned tree (aligned blocks only), then the main and length trees.
void WriteTrees(BitWriter& out, const Trees& trees, const uint8_t* previousMain,
                const uint8_t* previousLength, bool aligned);

void WriteItems(BitWriter& out, const std::vector<Item>& items, const Trees& trees, bool aligned);

}  // namespace cab::lzx
