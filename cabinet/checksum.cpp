#include "cabinet/checksum.h"

#include <bit>
#include <cstring>

namespace cab {

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t value = seed;
    size_t words = size / 4;
    const uint8_t* p = data;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time: the two 32-bit halves fold into one value.
        uint64_t wide = 0;
        for (; words >= 2; words -= 2, p += 8) {
            uint64_t chunk;
            std::memcpy(&chunk, p, 8);
            wide ^= chunk;
        }
        value ^= static_cast<uint32_t>(wide) ^ static_cast<uint32_t>(wide >> 32);
    }
    for (; words > 0; --words, p += 4) {
        value ^= static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                 (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    switch (size & 3) {
        case 3:
            value ^=
                (static_cast<uint32_t>(p[0]) << 16) ^ (static_cast<uint32_t>(p[1]) << 8) ^ p[2];
            break;
        case 2:
            value ^= (static_cast<uint32_t>(p[0]) << 8) ^ p[1];
            break;
        case 1:
            value ^= p[0];
            break;
        default:
            break;
    }
    return value;
}

}  // namespace cab
