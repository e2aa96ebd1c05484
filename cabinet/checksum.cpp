#include "cabinet/checksum.h"

#include <bit>
#include <cstring>

namespace cab {

namespace {

typedef uint64_t Lanes16 __attribute__((vector_size(16)));
typedef uint64_t Lanes32 __attribute__((vector_size(32)));

// XORs whole rounds of four vectors into four independent accumulators and
// answers them folded to 64 bits; advances p and words (a count of 32-bit
// words) past what it took.
template <typename Lanes>
inline __attribute__((always_inline)) uint64_t XorRounds(const uint8_t*& p, size_t& words) {
    constexpr size_t Bytes = sizeof(Lanes);
    constexpr size_t ROUND_WORDS = 4 * Bytes / 4;
    Lanes a{}, b{}, c{}, d{};
    for (; words >= ROUND_WORDS; words -= ROUND_WORDS, p += 4 * Bytes) {
        Lanes w, x, y, z;
        std::memcpy(&w, p, Bytes);
        std::memcpy(&x, p + Bytes, Bytes);
        std::memcpy(&y, p + 2 * Bytes, Bytes);
        std::memcpy(&z, p + 3 * Bytes, Bytes);
        a ^= w;
        b ^= x;
        c ^= y;
        d ^= z;
    }
    const Lanes all = a ^ b ^ c ^ d;
    uint64_t folded = 0;
    for (size_t i = 0; i < Bytes / 8; ++i) folded ^= all[i];
    return folded;
}

#if defined(__x86_64__)
// 32-byte registers where the processor has them; 16-byte ones otherwise.
__attribute__((target("avx2"))) uint64_t XorRoundsAvx2(const uint8_t*& p, size_t& words) {
    return XorRounds<Lanes32>(p, words);
}

uint64_t XorRoundsBest(const uint8_t*& p, size_t& words) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? XorRoundsAvx2(p, words) : XorRounds<Lanes16>(p, words);
}
#else
uint64_t XorRoundsBest(const uint8_t*& p, size_t& words) { return XorRounds<Lanes16>(p, words); }
#endif

}  // namespace

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t value = seed;
    size_t words = size / 4;
    const uint8_t* p = data;
    if constexpr (std::endian::native == std::endian::little) {
        // Whole vectors first, then eight bytes at a time; the two 32-bit
        // halves of the 64-bit value fold into one at the end.
        uint64_t wide = XorRoundsBest(p, words);
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
