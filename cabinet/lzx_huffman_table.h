// Decoding tables for the canonical Huffman codes of the LZX bit stream.
//
// A table answers a symbol and its code length for the next 16 bits of the
// stream. Codes up to kBits long are looked up directly; a longer code finds in
// its kBits-bit prefix entry the offset of a second-level table indexed by the
// following (16 - kBits) bits. Codes are assigned in order of length, then of
// symbol, most significant bit first.
#pragma once

#include <cstdint>

namespace cab::lzx {

template <int kBits, int kSymbols>
struct HuffmanTable {
    static constexpr int kSubBits = 16 - kBits;
    static constexpr uint32_t kLinkFlag = 0x80;
    // Every long code needs at most one second-level table of its own.
    static constexpr int kLongPrefixes = kSymbols < (1 << kBits) ? kSymbols : (1 << kBits);
    static constexpr int kEntries = (1 << kBits) + (kSubBits > 0 ? kLongPrefixes << kSubBits : 0);

    // Entry: symbol << 8 | code length, or offset << 8 | kLinkFlag.
    uint32_t entries[kEntries];

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
        for (int i = 0; i < 1 << kBits; ++i) entries[i] = 0;
        uint32_t nextSub = 1u << kBits;
        for (int symbol = 0; symbol < count; ++symbol) {
            int length = lengths[symbol];
            if (length == 0) continue;
            uint32_t symbolCode = nextCode[length]++;
            uint32_t entry = static_cast<uint32_t>(symbol) << 8 | static_cast<uint32_t>(length);
            if (length <= kBits) {
                uint32_t first = symbolCode << (kBits - length);
                for (uint32_t i = 0; i < 1u << (kBits - length); ++i) entries[first + i] = entry;
                continue;
            }
            if constexpr (kSubBits > 0) {
                // A complete code is prefix-free, so the kBits-bit prefix of a long
                // code belongs to long codes only: it becomes a link.
                uint32_t prefix = symbolCode >> (length - kBits);
                if (!(entries[prefix] & kLinkFlag)) {
                    entries[prefix] = nextSub << 8 | kLinkFlag;
                    nextSub += 1u << kSubBits;
                }
                uint32_t sub = entries[prefix] >> 8;
                uint32_t low = symbolCode & ((1u << (length - kBits)) - 1);
                uint32_t first = low << (16 - length);
                for (uint32_t i = 0; i < 1u << (16 - length); ++i) entries[sub + first + i] = entry;
            }
        }
        return true;
    }

    // Looks up the entry for the next 16 stream bits.
    uint32_t Lookup(uint32_t next16) const {
        uint32_t entry = entries[next16 >> kSubBits];
        if constexpr (kSubBits > 0) {
            if (entry & kLinkFlag)
                entry = entries[(entry >> 8) + (next16 & ((1u << kSubBits) - 1))];
        }
        return entry;
    }

    static uint32_t Symbol(uint32_t entry) { return entry >> 8; }
    static int Length(uint32_t entry) { return static_cast<int>(entry & 0x1F); }
};

}  // namespace cab::lzx
