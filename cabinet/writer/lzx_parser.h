// Choosing the literals and matches of a stretch of input: lazy matching over
// the match finder's candidates and the three repeated offsets, each choice
// priced with the code lengths of the block that will carry it (or of the
// previous block).
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx_format.h"
#include "cabinet/writer/lzx_block_writer.h"
#include "cabinet/writer/lzx_match_finder.h"

namespace cab::lzx {

struct RepeatedOffsets {
    uint32_t r[3] = {1, 1, 1};
};

// Bits each symbol is expected to cost.
struct CostModel {
    uint8_t main[MAX_MAIN_ELEMENTS];
    uint8_t length[LENGTH_ELEMENTS];
    uint8_t aligned[ALIGNED_ELEMENTS];
    bool alignedBlock = false;

    CostModel();
    // Prices of a block coded with `trees`; symbols without a code get
    // `missing` bits (a block's own trees give every symbol a code).
    void FromTrees(const Trees& trees, bool aligned, uint8_t missing);
};

// Parses [start, end) of the finder's history into `items`, updating `reps`
// as the decoder will. No match passes `end`.
void Parse(MatchFinder& finder, uint32_t start, uint32_t end, RepeatedOffsets& reps,
           const CostModel& cost, std::vector<Item>& items);

}  // namespace cab::lzx
