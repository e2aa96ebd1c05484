// Deflate's alphabets and canonical Huffman decoding tables.
//
// A table is indexed by the next `rootBits` bits of the stream (least
// significant bit first). Codes up to `rootBits` long are resolved by one
// probe: their entry is repeated at every index sharing their bits. Longer
// codes go through one sub-table, whose pointer entry sits in the root.
//
// Entry layout (32 bits), shaped for the decoding loop:
//   bits 0-7    bits to drop from the stream for this entry: the code length
//               plus the extra bits of a length or distance (for a sub-table
//               pointer: the root bits). The loop subtracts the whole entry
//               from its bit count and only ever reads that count's low byte.
//   bits 8-11   the code length alone (for a sub-table pointer: the bits that
//               index the sub-table); with bits 12-13 clear, bits 8-13 are
//               the shift that takes the extra bits down from the low end
//   bit 12      end of block
//   bit 13      invalid code
//   bit 14      sub-table pointer
//   bits 16-30  value: the literal byte, the length or distance base, or the
//               sub-table's offset in the table
//   bit 31      literal, so that the test is a sign test
// An entry with none of the flag bits is a length (or a distance).
#pragma once

#include <algorithm>
#include <cstdint>

namespace cab::deflate {

inline constexpr uint32_t ENTRY_END = 1u << 12;
inline constexpr uint32_t ENTRY_INVALID = 1u << 13;
inline constexpr uint32_t ENTRY_SUBTABLE = 1u << 14;
inline constexpr uint32_t ENTRY_LITERAL = 1u << 31;
inline constexpr uint32_t ENTRY_SPECIAL = ENTRY_END | ENTRY_INVALID | ENTRY_SUBTABLE;
inline constexpr unsigned ENTRY_VALUE_SHIFT = 16;

inline constexpr bool EntryIsLiteral(uint32_t entry) { return int32_t(entry) < 0; }
inline constexpr unsigned EntryDrop(uint32_t entry) { return entry & 0xFF; }
inline constexpr unsigned EntryCodeBits(uint32_t entry) { return (entry >> 8) & 15; }
inline constexpr unsigned EntryValue(uint32_t entry) {
    return (entry >> ENTRY_VALUE_SHIFT) & 0x7FFF;
}
inline constexpr uint8_t EntryLiteral(uint32_t entry) {
    return uint8_t(entry >> ENTRY_VALUE_SHIFT);
}

inline constexpr unsigned MAX_CODE_BITS = 15;
inline constexpr unsigned LITERAL_LENGTH_SYMBOLS = 288;  // 286 and 287 never occur
inline constexpr unsigned DISTANCE_SYMBOLS = 32;         // 30 and 31 never occur
inline constexpr unsigned MAX_DYNAMIC_LITERAL_LENGTH_CODES = 286;
inline constexpr unsigned MAX_DYNAMIC_DISTANCE_CODES = 30;
inline constexpr unsigned CODE_LENGTH_SYMBOLS = 19;

// Order in which the code-length code's lengths are sent.
inline constexpr uint8_t CODE_LENGTH_ORDER[CODE_LENGTH_SYMBOLS] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint16_t DISTANCE_BASE[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr uint8_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// What a symbol decodes to, before its code length is known.
struct Leaf {
    uint32_t entry;  // flags and value
    uint8_t extraBits;
};

inline constexpr Leaf LiteralLengthLeaf(unsigned symbol) {
    if (symbol < 256) return {ENTRY_LITERAL | (symbol << ENTRY_VALUE_SHIFT), 0};
    if (symbol == 256) return {ENTRY_END, 0};
    if (symbol < 286)
        return {uint32_t(LENGTH_BASE[symbol - 257]) << ENTRY_VALUE_SHIFT,
                LENGTH_EXTRA[symbol - 257]};
    return {ENTRY_INVALID, 0};
}

inline constexpr Leaf DistanceLeaf(unsigned symbol) {
    if (symbol < 30)
        return {uint32_t(DISTANCE_BASE[symbol]) << ENTRY_VALUE_SHIFT, DISTANCE_EXTRA[symbol]};
    return {ENTRY_INVALID, 0};
}

// Leaves of a code-length code, so that every symbol reads the same way: the
// value holds the code length to store (bits 0-3), how many times before the
// extra bits are added (bits 4-7), and whether the previous length is
// repeated in place of bits 0-3 (bit 8). Lengths 0 to 15 are stored once;
// 16 repeats the previous length 3 to 6 times (2 extra bits), 17 stores 3 to
// 10 zeros (3 extra bits), 18 stores 11 to 138 zeros (7 extra bits).
inline constexpr unsigned CODE_LENGTH_REPEAT_SHIFT = 4;
inline constexpr unsigned CODE_LENGTH_PREVIOUS = 1u << 8;

inline constexpr Leaf CodeLengthLeaf(unsigned symbol) {
    auto leaf = [](unsigned value, unsigned extraBits) {
        return Leaf{value << ENTRY_VALUE_SHIFT, uint8_t(extraBits)};
    };
    if (symbol < 16) return leaf(symbol | 1u << CODE_LENGTH_REPEAT_SHIFT, 0);
    if (symbol == 16) return leaf(CODE_LENGTH_PREVIOUS | 3u << CODE_LENGTH_REPEAT_SHIFT, 2);
    if (symbol == 17) return leaf(3u << CODE_LENGTH_REPEAT_SHIFT, 3);
    return leaf(11u << CODE_LENGTH_REPEAT_SHIFT, 7);
}

template <unsigned Count, typename Make>
constexpr auto MakeLeaves(Make make) {
    struct Leaves {
        Leaf leaf[Count];
    } leaves{};
    for (unsigned i = 0; i < Count; ++i) leaves.leaf[i] = make(i);
    return leaves;
}

inline constexpr auto LITERAL_LENGTH_LEAVES = MakeLeaves<LITERAL_LENGTH_SYMBOLS>(LiteralLengthLeaf);
inline constexpr auto DISTANCE_LEAVES = MakeLeaves<DISTANCE_SYMBOLS>(DistanceLeaf);
inline constexpr auto CODE_LENGTH_LEAVES = MakeLeaves<CODE_LENGTH_SYMBOLS>(CodeLengthLeaf);

// Table sizes. Only complete codes have codes longer than the root (an
// incomplete code is accepted only when its single code has length 1), and a
// sub-table of 2^k entries takes at least k + 1 codes, which bounds the space.
inline constexpr unsigned LITERAL_LENGTH_ROOT_BITS = 11;
inline constexpr unsigned DISTANCE_ROOT_BITS = 8;
inline constexpr unsigned CODE_LENGTH_ROOT_BITS = 7;
inline constexpr unsigned LITERAL_LENGTH_TABLE_SIZE = (1u << LITERAL_LENGTH_ROOT_BITS) + 1024;
inline constexpr unsigned DISTANCE_TABLE_SIZE = (1u << DISTANCE_ROOT_BITS) + 512;
inline constexpr unsigned CODE_LENGTH_TABLE_SIZE = 1u << CODE_LENGTH_ROOT_BITS;

enum class Completeness {
    Required,  // dynamic codes: complete, or a single code of length 1
    Optional,  // the fixed distance code uses 30 of its 32 codes
};

// Each byte with its bits in reverse order.
inline constexpr auto REVERSED_BYTES = [] {
    struct Bytes {
        uint8_t byte[256];
    } reversed{};
    for (unsigned value = 0; value < 256; ++value)
        for (unsigned bit = 0; bit < 8; ++bit)
            reversed.byte[value] |= uint8_t(((value >> bit) & 1) << (7 - bit));
    return reversed;
}();

// A canonical code (most significant bit first) as a table index (least
// significant bit first); length 1 to 16.
inline constexpr unsigned ReverseBits(unsigned code, unsigned length) {
    const unsigned reversed =
        unsigned(REVERSED_BYTES.byte[code & 0xFF]) << 8 | REVERSED_BYTES.byte[(code >> 8) & 0xFF];
    return reversed >> (16 - length);
}

// Builds the decoding table for `count` code lengths (0 = symbol unused) into
// `table` (room for `capacity` entries). Returns false for an over-subscribed
// code, a code that leaves part of the code space unused (unless allowed, or
// its longest code has length 1), or a table that would not fit. Lengths all
// zero give a table whose every entry is invalid.
constexpr bool BuildTable(const uint8_t* lengths, unsigned count, const Leaf* leaves,
                          unsigned rootBits, uint32_t* table, unsigned capacity,
                          Completeness completeness) {
    // Counting and sorting run in four lanes, one per quarter of the
    // symbols, each with its own counters: neighbouring symbols mostly share
    // a length, and with one counter per length every step would wait for
    // the previous step's store to that counter.
    constexpr unsigned LANES = 4;
    const unsigned quarter = count / LANES;
    const unsigned laneEnd = quarter * LANES;  // symbols from here on: the last lane's tail
    auto laneSymbol = [quarter](unsigned lane, unsigned k) { return lane * quarter + k; };
    uint16_t laneCount[LANES][MAX_CODE_BITS + 1] = {};
    for (unsigned k = 0; k < quarter; ++k)
        for (unsigned lane = 0; lane < LANES; ++lane)
            ++laneCount[lane][lengths[laneSymbol(lane, k)]];
    for (unsigned symbol = laneEnd; symbol < count; ++symbol)
        ++laneCount[LANES - 1][lengths[symbol]];
    uint16_t lengthCount[MAX_CODE_BITS + 1] = {};
    for (unsigned length = 1; length <= MAX_CODE_BITS; ++length)
        for (unsigned lane = 0; lane < LANES; ++lane)
            lengthCount[length] += laneCount[lane][length];

    int unused = 1;
    unsigned longest = 0;
    for (unsigned length = 1; length <= MAX_CODE_BITS; ++length) {
        unused = unused * 2 - lengthCount[length];
        if (unused < 0) return false;  // over-subscribed
        if (lengthCount[length] != 0) longest = length;
    }
    if (unused > 0 && longest > 1 && completeness == Completeness::Required) return false;

    // Symbols in canonical order: by code length, then by symbol. Each lane
    // writes its symbols of a length after those of the lanes before it;
    // unused symbols (length 0) go after all codes and are never read.
    // `offset[length]` ends up past the symbols of that length.
    uint16_t offset[MAX_CODE_BITS + 1] = {};
    uint16_t laneNext[LANES][MAX_CODE_BITS + 1] = {};
    unsigned at = 0;
    for (unsigned length = 1; length <= MAX_CODE_BITS + 1; ++length) {
        const unsigned sortedLength = length & MAX_CODE_BITS;  // 0 last
        for (unsigned lane = 0; lane < LANES; ++lane) {
            laneNext[lane][sortedLength] = uint16_t(at);
            at += laneCount[lane][sortedLength];
        }
        offset[sortedLength] = uint16_t(at);
    }
    uint16_t sorted[LITERAL_LENGTH_SYMBOLS];  // only the first `count` are written
    for (unsigned k = 0; k < quarter; ++k)
        for (unsigned lane = 0; lane < LANES; ++lane) {
            const unsigned symbol = laneSymbol(lane, k);
            sorted[laneNext[lane][lengths[symbol]]++] = uint16_t(symbol);
        }
    for (unsigned symbol = laneEnd; symbol < count; ++symbol)
        sorted[laneNext[LANES - 1][lengths[symbol]]++] = uint16_t(symbol);
    const unsigned codes = offset[MAX_CODE_BITS];

    // The root grows by doubling: before the codes of length n go in, its
    // first 2^(n-1) entries hold every shorter code, and copying them once
    // repeats each at all indexes of 2^n that share its bits. What no code
    // claims stays invalid (an incomplete code) or becomes a sub-table
    // pointer below (the prefix of longer codes).
    unsigned i = 0;
    unsigned code = 0;  // canonical code of sorted[i], most significant bit first
    table[0] = ENTRY_INVALID;
    for (unsigned length = 1; length <= rootBits; ++length) {
        const unsigned half = 1u << (length - 1);
        std::copy_n(table, half, table + half);
        for (; i < offset[length]; ++i, ++code) {
            const Leaf leaf = leaves[sorted[i]];
            table[ReverseBits(code, length)] =
                leaf.entry | (length << 8) | (length + leaf.extraBits);
        }
        code <<= 1;
    }

    const uint32_t rootMask = (1u << rootBits) - 1;
    unsigned next = 1u << rootBits;  // where the next sub-table goes
    unsigned codeLength = rootBits + 1;
    unsigned subtableRoot = ~0u;  // root index of the sub-table being filled
    unsigned subtableBase = 0;
    for (; i < codes; ++i) {
        const unsigned symbol = sorted[i];
        const unsigned length = lengths[symbol];
        code <<= length - codeLength;
        codeLength = length;
        const Leaf leaf = leaves[symbol];
        const unsigned reversed = ReverseBits(code, length);
        const unsigned root = reversed & rootMask;
        if (root != subtableRoot) {
            // The sub-table covers this root index; the codes under it follow
            // in canonical order and fill 2^-rootBits of the code space, so
            // the longest of them sets the sub-table's size.
            unsigned need = 1u << (MAX_CODE_BITS - rootBits);
            unsigned deepest = length;
            for (unsigned j = i; j < codes && need > 0; ++j) {
                const unsigned lengthJ = lengths[sorted[j]];
                const unsigned weight = 1u << (MAX_CODE_BITS - lengthJ);
                need = weight >= need ? 0 : need - weight;
                deepest = lengthJ;
            }
            const unsigned subBits = deepest - rootBits;
            if (next + (1u << subBits) > capacity) return false;
            subtableRoot = root;
            subtableBase = next;
            next += 1u << subBits;
            table[root] =
                ENTRY_SUBTABLE | (subtableBase << ENTRY_VALUE_SHIFT) | (subBits << 8) | rootBits;
        }
        const unsigned subBits = EntryCodeBits(table[root]);
        const unsigned subLength = length - rootBits;
        const uint32_t entry = leaf.entry | (subLength << 8) | (subLength + leaf.extraBits);
        for (unsigned index = reversed >> rootBits; index < (1u << subBits);
             index += 1u << subLength)
            table[subtableBase + index] = entry;
        ++code;
    }
    return true;
}

// The fixed codes of block type 1, built at compile time.
struct FixedTables {
    uint32_t literalLength[1u << LITERAL_LENGTH_ROOT_BITS];
    uint32_t distance[1u << DISTANCE_ROOT_BITS];
};

constexpr FixedTables MakeFixedTables() {
    FixedTables tables{};
    uint8_t lengths[LITERAL_LENGTH_SYMBOLS] = {};
    for (unsigned symbol = 0; symbol < LITERAL_LENGTH_SYMBOLS; ++symbol)
        lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
    BuildTable(lengths, LITERAL_LENGTH_SYMBOLS, LITERAL_LENGTH_LEAVES.leaf,
               LITERAL_LENGTH_ROOT_BITS, tables.literalLength, 1u << LITERAL_LENGTH_ROOT_BITS,
               Completeness::Required);
    uint8_t distanceLengths[30] = {};
    for (auto& length : distanceLengths) length = 5;
    BuildTable(distanceLengths, 30, DISTANCE_LEAVES.leaf, DISTANCE_ROOT_BITS, tables.distance,
               1u << DISTANCE_ROOT_BITS, Completeness::Optional);
    return tables;
}

inline constexpr FixedTables FIXED_TABLES = MakeFixedTables();

}  // namespace cab::deflate
