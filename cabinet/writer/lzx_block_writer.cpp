#include "cabinet/writer/lzx_block_writer.h"

#include "cabinet/writer/lzx_huffman_code.h"

namespace cab::lzx {
namespace {

// A pretree symbol with its extra bits; symbol 19 carries a second symbol.
struct PretreeOp {
    uint8_t symbol;
    uint8_t extra;
    uint8_t follow;
};

uint8_t Delta(uint8_t previous, uint8_t length) {
    return static_cast<uint8_t>((previous + 17 - length) % 17);
}

std::vector<PretreeOp> DeltaOps(const uint8_t* lengths, const uint8_t* previous, int first,
                                int end) {
    std::vector<PretreeOp> ops;
    int i = first;
    while (i < end) {
        int run = 1;
        while (i + run < end && lengths[i + run] == lengths[i]) ++run;
        if (lengths[i] == 0 && run >= 20) {
            int n = run < 51 ? run : 51;
            ops.push_back({18, static_cast<uint8_t>(n - 20), 0});
            i += n;
        } else if (lengths[i] == 0 && run >= 4) {
            int n = run < 19 ? run : 19;
            ops.push_back({17, static_cast<uint8_t>(n - 4), 0});
            i += n;
        } else if (run >= 4) {
            int n = run < 5 ? run : 5;
            ops.push_back({19, static_cast<uint8_t>(n - 4), Delta(previous[i], lengths[i])});
            i += n;
        } else {
            ops.push_back({Delta(previous[i], lengths[i]), 0, 0});
            ++i;
        }
    }
    return ops;
}

void WriteSegment(BitWriter& out, const uint8_t* lengths, const uint8_t* previous, int first,
                  int end) {
    std::vector<PretreeOp> ops = DeltaOps(lengths, previous, first, end);
    uint32_t counts[PRETREE_ELEMENTS] = {};
    for (const PretreeOp& op : ops) {
        counts[op.symbol]++;
        if (op.symbol == 19) counts[op.follow]++;
    }
    uint8_t pretreeLengths[PRETREE_ELEMENTS];
    uint16_t pretreeCodes[PRETREE_ELEMENTS];
    BuildCodeLengths(counts, PRETREE_ELEMENTS, 15, pretreeLengths);
    BuildCodes(pretreeLengths, PRETREE_ELEMENTS, pretreeCodes);
    for (uint8_t length : pretreeLengths) out.Put(length, 4);
    for (const PretreeOp& op : ops) {
        out.Put(pretreeCodes[op.symbol], pretreeLengths[op.symbol]);
        if (op.symbol == 17) out.Put(op.extra, 4);
        if (op.symbol == 18) out.Put(op.extra, 5);
        if (op.symbol == 19) {
            out.Put(op.extra, 1);
            out.Put(pretreeCodes[op.follow], pretreeLengths[op.follow]);
        }
    }
}

void BuildTree(const uint32_t* counts, int count, bool everySymbol, int maxLength, uint8_t* lengths,
               uint16_t* codes) {
    std::vector<uint32_t> weights(counts, counts + count);
    if (everySymbol) {
        for (uint32_t& weight : weights) weight = weight * 4 + 1;
    }
    BuildCodeLengths(weights.data(), count, maxLength, lengths);
    BuildCodes(lengths, count, codes);
}

}  // namespace

void SymbolCounts::Add(const std::vector<Item>& items) {
    for (const Item& item : items) {
        main[item.mainSymbol]++;
        if (item.lengthSymbol != NO_LENGTH_SYMBOL) length[item.lengthSymbol]++;
        if (item.footerBits >= 3) aligned[item.footer & 7]++;
    }
}

void BuildTrees(const SymbolCounts& counts, int mainElements, bool everySymbol, Trees& trees) {
    trees.mainElements = mainElements;
    BuildTree(counts.main, mainElements, everySymbol, MAX_CODE_LENGTH, trees.mainLengths,
              trees.mainCodes);
    BuildTree(counts.length, LENGTH_ELEMENTS, everySymbol, MAX_CODE_LENGTH, trees.lengthLengths,
              trees.lengthCodes);
    BuildTree(counts.aligned, ALIGNED_ELEMENTS, everySymbol, 7, trees.alignedLengths,
              trees.alignedCodes);
}

void WriteTrees(BitWriter& out, const Trees& trees, const uint8_t* previousMain,
                const uint8_t* previousLength, bool aligned) {
    if (aligned) {
        for (uint8_t length : trees.alignedLengths) out.Put(length, 3);
    }
    WriteSegment(out, trees.mainLengths, previousMain, 0, NUM_CHARS);
    WriteSegment(out, trees.mainLengths, previousMain, NUM_CHARS, trees.mainElements);
    WriteSegment(out, trees.lengthLengths, previousLength, 0, LENGTH_ELEMENTS);
}

void WriteItems(BitWriter& out, const std::vector<Item>& items, const Trees& trees, bool aligned) {
    for (const Item& item : items) {
        out.Put(trees.mainCodes[item.mainSymbol], trees.mainLengths[item.mainSymbol]);
        if (item.mainSymbol < NUM_CHARS) continue;
        if (item.lengthSymbol != NO_LENGTH_SYMBOL) {
            out.Put(trees.lengthCodes[item.lengthSymbol], trees.lengthLengths[item.lengthSymbol]);
        }
        if (aligned && item.footerBits >= 3) {
            out.Put(item.footer >> 3, item.footerBits - 3);
            out.Put(trees.alignedCodes[item.footer & 7], trees.alignedLengths[item.footer & 7]);
        } else {
            out.Put(item.footer, item.footerBits);
        }
    }
}

}  // namespace cab::lzx
