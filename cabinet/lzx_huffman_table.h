// Decoding tables for the canonical Huffman codes of the LZX bit stream.
//
// A table answers a symbol and its code length for the next 16 bits of the
// stream. Codes up to BITS long are looked up directly; a longer code finds in
// its BITS-bit prefix entry the offset of a second-level table indexed by the
// following (16 - BITS) bits. Codes are assigned in order of length, then of
// symbol, most significant bit first.
#pragma once

#include <cstdint>

namespace cab::lzx {

template <int BITS, int SYMBOLS>
struct HuffmanTable {
    static constexpr int SUB_BITS = 16 - BITS;
    static constexpr uint32_t LINK_FLAG = 0x80;
    // Every long code needs at most one second-level table of its own.
    static constexpr int LONG_PREFIXES = SYMBOLS < (1 << BITS) ? SYMBOLS : (1 << BITS);
    static constexpr int ENTRIES = (1 << BITS) + (SUB_BITS > 0 ? LONG_PREFIXES << SUB_BITS : 0);

    // Entry: symbol << 8 | code length, or offset << 8 | LINK_FLAG.
    uint32_t entries[ENTRIES];

    // Builds the table from `count` code lengths (0 = unused, 1 to 16). The codes
    // must fill the code space exactly; when every length is 0 the table is empty
    // and answers symbol 0 with length 0. Returns false for any other total.
    bool Build(const uint8_t* lengths, int count) {
        uint32_t perLength[17] = {};
        for (int i = 0; i < count; ++i) perLength[lengths[i]]++;
        uint32_t space = 0;
        for (int length = 1; length <= 16; ++length) space += perLength[length] << (16 - length);
        if (space == 0) {
            for (uint32_t& entry : entries) entry = 0;
            return true;
        }
        if (space != 1u << 16) return false;

        uint32_t nextCode[17];
        uint32_t code = 0;
        perLength[0] = 0;
        for (int length = 1; length <= 16; ++length) {
            code = (code + perLength[length - 1]) << 1;
            nextCode[length] = code;
        }
        for (int i = 0; i < 1 << BITS; ++i) entries[i] = 0;
        uint32_t nextSub = 1u << BITS;
        for (int symbol = 0; symbol < count; ++symbol) {
            int length = lengths[symbol];
            if (length == 0) continue;
            uint32_t symbolCode = nextCode[length]++;
            uint32_t entry = static_cast<uint32_t>(symbol) << 8 | static_cast<uint32_t>(length);
            if (length <= BITS) {
                uint32_t first = symbolCode << (BITS - length);
                for (uint32_t i = 0; i < 1u << (BITS - length); ++i) entries[first + i] = entry;
                continue;
            }
            if constexpr (SUB_BITS > 0) {
                // A complete code is prefix-free, so the BITS-bit prefix of a long
                // code belongs to long codes only: it becomes a link.
                uint32_t prefix = symbolCode >> (length - BITS);
                if (!(entries[prefix] & LINK_FLAG)) {
                    entries[prefix] = nextSub << 8 | LINK_FLAG;
                    nextSub += 1u << SUB_BITS;
                }
                uint32_t sub = entries[prefix] >> 8;
                uint32_t low = symbolCode & ((1u << (length - BITS)) - 1);
                uint32_t first = low << (16 - length);
                for (uint32_t i = 0; i < 1u << (16 - length); ++i) entries[sub + first + i] = entry;
            }
        }
        return true;
    }

    // Looks up the entry for the next 16 stream bits.
    uint32_t Lookup(uint32_t next16) const {
        uint32_t entry = entries[next16 >> SUB_BITS];
        if constexpr (SUB_BITS > 0) {
            if (entry & LINK_FLAG)
                entry = entries[(entry >> 8) + (next16 & ((1u << SUB_BITS) - 1))];
        }
        return entry;
    }

    static uint32_t Symbol(uint32_t entry) { return entry >> 8; }
    static int Length(uint32_t entry) { return static_cast<int>(entry & 0x1F); }
};

}  // namespace cab::lzx
