#include "cabinet/writer/lzx_parser.h"

#include <algorithm>

namespace cab::lzx {
namespace {

constexpr uint32_t NICE_LENGTH = 96;

struct Choice {
    uint32_t length = 0;
    int kind = 0;  // 0 to 2: repeated offset; 3: new offset
    uint32_t distance = 0;
    int32_t value = 0;  // bits saved against coding the bytes as literals
};

uint16_t MainSymbol(int slot, uint32_t length) {
    uint32_t header = std::min<uint32_t>(length - MIN_MATCH, NUM_PRIMARY_LENGTHS);
    return static_cast<uint16_t>(NUM_CHARS + slot * 8 + header);
}

class Parser {
  public:
    Parser(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& cost)
        : finder_(finder), data_(finder.Data()), start_(start), end_(end), cost_(cost) {
        literalSum_.resize(end - start + 1);
        literalSum_[0] = 0;
        for (uint32_t i = start; i < end; ++i) {
            literalSum_[i - start + 1] = literalSum_[i - start] + cost.main[data_[i]];
        }
    }

    int32_t MatchCost(int slot, uint32_t length, uint32_t footer, int footerBits) const {
        int32_t bits = cost_.main[MainSymbol(slot, length)];
        if (length - MIN_MATCH >= NUM_PRIMARY_LENGTHS) {
            bits += cost_.length[length - MIN_MATCH - NUM_PRIMARY_LENGTHS];
        }
        if (cost_.alignedBlock && footerBits >= 3) {
            bits += footerBits - 3 + cost_.aligned[footer & 7];
        } else {
            bits += footerBits;
        }
        return bits;
    }

    int32_t Literals(uint32_t pos, uint32_t length) const {
        return static_cast<int32_t>(literalSum_[pos - start_ + length] - literalSum_[pos - start_]);
    }

    // The most valuable choice at pos; a new offset must give a match longer
    // than `shorter`.
    Choice Best(uint32_t pos, const RepeatedOffsets& reps, uint32_t shorter = 0) {
        Choice best;
        uint32_t maxLength = std::min<uint32_t>(MAX_MATCH, end_ - pos);
        if (maxLength < MIN_MATCH) return best;
        for (int i = 0; i < 3; ++i) {
            uint32_t length = finder_.LengthAt(pos, reps.r[i], maxLength);
            if (length < MIN_MATCH) continue;
            int32_t value = Literals(pos, length) - MatchCost(i, length, 0, 0);
            if (value > best.value) best = {length, i, reps.r[i], value};
        }
        finder_.InsertUpTo(pos);
        uint32_t distance = 0;
        uint32_t length = finder_.Longest(pos, maxLength, shorter, &distance);
        if (length >= 3) {
            for (int i = 0; i < 3; ++i) {
                if (reps.r[i] == distance) return best;  // already priced as a repeat
            }
            uint32_t formatted = distance + 2;
            int slot = PositionSlotOf(formatted);
            uint32_t footer = formatted - POSITION_BASE[slot];
            int32_t value =
                Literals(pos, length) - MatchCost(slot, length, footer, EXTRA_BITS[slot]);
            if (value > best.value) best = {length, 3, distance, value};
        }
        return best;
    }

    void Emit(uint32_t pos, const Choice& choice, RepeatedOffsets& reps, std::vector<Item>& items) {
        if (choice.length == 0) {
            items.push_back({data_[pos], NO_LENGTH_SYMBOL, 0, 0});
            return;
        }
        uint32_t length = choice.length;
        uint16_t lengthSymbol =
            length - MIN_MATCH >= NUM_PRIMARY_LENGTHS
                ? static_cast<uint16_t>(length - MIN_MATCH - NUM_PRIMARY_LENGTHS)
                : NO_LENGTH_SYMBOL;
        if (choice.kind < 3) {
            items.push_back({MainSymbol(choice.kind, length), lengthSymbol, 0, 0});
            std::swap(reps.r[0], reps.r[choice.kind]);
            return;
        }
        uint32_t formatted = choice.distance + 2;
        int slot = PositionSlotOf(formatted);
        items.push_back({MainSymbol(slot, length), lengthSymbol, formatted - POSITION_BASE[slot],
                         EXTRA_BITS[slot]});
        reps.r[2] = reps.r[1];
        reps.r[1] = reps.r[0];
        reps.r[0] = choice.distance;
    }

    void Run(RepeatedOffsets& reps, std::vector<Item>& items) {
        uint32_t pos = start_;
        Choice current = Best(pos, reps);
        while (pos < end_) {
            if (current.length == 0) {
                Emit(pos, current, reps, items);
                ++pos;
                if (pos < end_) current = Best(pos, reps);
                continue;
            }
            if (current.length < NICE_LENGTH && pos + 1 < end_) {
                // Only a match at least as long can beat the current one.
                Choice next = Best(pos + 1, reps, current.length - 1);
                if (next.value > current.value) {
                    Emit(pos, Choice{}, reps, items);
                    ++pos;
                    current = next;
                    continue;
                }
            }
            Emit(pos, current, reps, items);
            pos += current.length;
            if (pos < end_) current = Best(pos, reps);
        }
        finder_.InsertUpTo(end_);
    }

  private:
    MatchFinder& finder_;
    const uint8_t* data_;
    uint32_t start_;
    uint32_t end_;
    const CostModel& cost_;
    std::vector<uint32_t> literalSum_;
};

}  // namespace

CostModel::CostModel() {
    std::fill(std::begin(main), std::begin(main) + NUM_CHARS, uint8_t{8});
    std::fill(std::begin(main) + NUM_CHARS, std::end(main), uint8_t{9});
    std::fill(std::begin(length), std::end(length), uint8_t{7});
    std::fill(std::begin(aligned), std::end(aligned), uint8_t{3});
}

void CostModel::FromTrees(const Trees& trees, bool alignedTrees, uint8_t missing) {
    for (int i = 0; i < MAX_MAIN_ELEMENTS; ++i) {
        main[i] = i < trees.mainElements && trees.mainLengths[i] ? trees.mainLengths[i] : missing;
    }
    for (int i = 0; i < LENGTH_ELEMENTS; ++i) {
        length[i] = trees.lengthLengths[i] ? trees.lengthLengths[i] : missing;
    }
    for (int i = 0; i < ALIGNED_ELEMENTS; ++i) {
        aligned[i] = trees.alignedLengths[i] ? trees.alignedLengths[i] : missing;
    }
    alignedBlock = alignedTrees;
}

void Parse(MatchFinder& finder, uint32_t start, uint32_t end, RepeatedOffsets& reps,
           const CostModel& cost, std::vector<Item>& items) {
    Parser parser(finder, start, end, cost);
    parser.Run(reps, items);
}

}  // namespace cab::lzx
