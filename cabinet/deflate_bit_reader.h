// Bit input for deflate: least significant bit first, bytes appended above the
// bits already held. Past the end of the input the stream reads as zero bytes.
//
// Bits above `count` in `bits` are either zero or the bits of the bytes at
// `next`, so appending a byte with OR is always exact.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace cab::deflate {

struct BitReader {
    uint64_t bits = 0;
    unsigned count = 0;             // valid bits in `bits`, at most 63
    const uint8_t* next = nullptr;  // first byte not yet appended
    const uint8_t* start = nullptr;
    const uint8_t* end = nullptr;
    uint32_t zerosSupplied = 0;  // zero bytes appended past the end

    void Begin(const uint8_t* data, uint32_t size) {
        bits = 0;
        count = 0;
        next = start = data;
        end = data + size;
        zerosSupplied = 0;
    }

    // Tops the buffer up to at least 56 bits: by one 8-byte load while 8 input
    // bytes remain, else one byte at a time. The load needs no mask: the
    // bits it puts above the bytes counted in are those same bytes, which
    // the next load ORs in again unchanged. Advancing by (63 - count) / 8
    // whole bytes leaves count at 56 + count % 8, hence the OR with 56.
    void Refill() {
        if (end - next >= 8) {
            uint64_t word;
            std::memcpy(&word, next, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            bits |= word << count;
            next += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            uint64_t byte = 0;
            if (next < end)
                byte = *next++;
            else
                ++zerosSupplied;
            bits |= byte << count;
            count += 8;
        }
    }

    uint32_t Peek(unsigned n) const { return uint32_t(bits & ((uint64_t(1) << n) - 1)); }

    void Drop(unsigned n) {
        bits >>= n;
        count -= n;
    }

    // n <= 32; the caller has refilled.
    uint32_t Take(unsigned n) {
        const uint32_t value = Peek(n);
        Drop(n);
        return value;
    }

    uint32_t Read(unsigned n) {
        if (count < n) Refill();
        return Take(n);
    }

    // Offset from `start` of the first byte not yet consumed; only meaningful
    // on a byte boundary. May lie past the end when zeros were supplied.
    uint64_t BytePosition() const { return uint64_t(next - start) + zerosSupplied - count / 8; }

    // Empties the buffer and continues at `position` (within the input).
    void Seek(uint64_t position) {
        bits = 0;
        count = 0;
        next = start + position;
        zerosSupplied = 0;
    }
};

}  // namespace cab::deflate
