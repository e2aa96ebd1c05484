// Bit reader of the LZX decoder: the stream is a sequence of 16-bit
// little-endian words read most significant bit first.
//
// The buffer is 64 bits wide with the next bit at its top and is refilled by
// whole words. Bytes beyond the end of the input read as zero, so the reader
// never touches memory past the input; how far it has gone past the end is
// judged from the number of bits consumed (see PastEnd).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace cab::lzx {

static_assert(std::endian::native == std::endian::little,
              "the bit reader loads little-endian words");

struct BitReader {
    const uint8_t* data = nullptr;
    uint32_t size = 0;   // bytes of input
    uint32_t pos = 0;    // next byte to load; may run past size (zeros)
    uint32_t start = 0;  // where the current word-aligned stream began
    uint64_t buffer = 0;
    int count = 0;  // valid bits at the top of buffer

    // Starts a word-aligned stream at byte `at` of the input.
    void Restart(uint32_t at) {
        pos = at;
        start = at;
        buffer = 0;
        count = 0;
        Refill();
    }

    // Makes at least 49 bits available.
    inline void Refill() {
        if (count > 48) return;
        if (static_cast<uint64_t>(pos) + 8 <= size) {
            uint64_t raw;
            std::memcpy(&raw, data + pos, 8);
            // Word order: the first word of the stream goes to the top.
            raw = raw << 32 | raw >> 32;
            raw = (raw & 0xFFFF0000FFFF0000ull) >> 16 | (raw & 0x0000FFFF0000FFFFull) << 16;
            int words = (64 - count) >> 4;
            buffer |= (raw >> (64 - 16 * words)) << (64 - count - 16 * words);
            pos += 2 * words;
            count += 16 * words;
            return;
        }
        RefillSlow();
    }

    // Refill without tests, for the decoder's fast loop: needs 8 input bytes
    // at `pos`. Appends the next four words below the valid bits and keeps
    // count as the whole words taken; the bits of a word only partly taken lie
    // below `count`, are the stream's own and are written again, unchanged, by
    // the next refill.
    inline void RefillFast() {
        uint64_t raw;
        std::memcpy(&raw, data + pos, 8);
        raw = raw << 32 | raw >> 32;
        raw = (raw & 0xFFFF0000FFFF0000ull) >> 16 | (raw & 0x0000FFFF0000FFFFull) << 16;
        // Two shifts, each below 64, so that a full buffer takes nothing.
        buffer |= (raw >> (count >> 1)) >> (count - (count >> 1));
        int words = (64 - count) >> 4;
        pos += 2 * words;
        count += 16 * words;
    }

    void RefillSlow() {
        while (count <= 48) {
            uint32_t word =
                static_cast<uint32_t>(ByteAt(pos)) | static_cast<uint32_t>(ByteAt(pos + 1)) << 8;
            buffer |= static_cast<uint64_t>(word) << (48 - count);
            pos += 2;
            count += 16;
        }
    }

    uint8_t ByteAt(uint64_t at) const { return at < size ? data[at] : 0; }

    uint32_t Peek16() const { return static_cast<uint32_t>(buffer >> 48); }

    void Skip(int bits) {
        buffer <<= bits;
        count -= bits;
    }

    // Reads 0 to 17 bits; the caller has refilled.
    uint32_t Take(int bits) {
        if (bits == 0) return 0;
        uint32_t value = static_cast<uint32_t>(buffer >> (64 - bits));
        Skip(bits);
        return value;
    }

    uint32_t Read(int bits) {
        Refill();
        return Take(bits);
    }

    // Bits consumed since the input's first byte.
    uint64_t Consumed() const {
        return static_cast<uint64_t>(pos) * 8 - static_cast<uint64_t>(count);
    }

    // The first consumed-bit count at which the stream counts as having run
    // past the input: that is when the reading position, kept two words ahead
    // of the word holding the next bit, lies beyond the input's end plus 4 bytes.
    uint64_t PastEndLimit() const {
        if (start > size) return static_cast<uint64_t>(start) * 8;
        uint64_t words = (size - start) / 2 + 1;
        return static_cast<uint64_t>(start) * 8 + words * 16;
    }

    bool PastEnd() const { return Consumed() >= PastEndLimit(); }

    // Where a raw (uncompressed) part begins: the rest of the word holding the
    // next bit is discarded, 1 to 16 bits.
    uint32_t AlignedPosition() const {
        uint64_t bits = Consumed() - static_cast<uint64_t>(start) * 8;
        return static_cast<uint32_t>(start + 2 * (bits / 16 + 1));
    }
};

}  // namespace cab::lzx
