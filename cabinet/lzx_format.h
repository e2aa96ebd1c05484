// Constants of the LZX bit stream shared by the decoder and the encoder.
#pragma once

#include <array>
#include <cstdint>

namespace cab::lzx {

inline constexpr int MIN_WINDOW_BITS = 15;
inline constexpr int MAX_WINDOW_BITS = 21;

inline constexpr int NUM_CHARS = 256;
inline constexpr int MAX_POSITION_SLOTS = 50;
inline constexpr int MAX_MAIN_ELEMENTS = NUM_CHARS + 8 * MAX_POSITION_SLOTS;  // 656
inline constexpr int LENGTH_ELEMENTS = 249;
inline constexpr int ALIGNED_ELEMENTS = 8;
inline constexpr int PRETREE_ELEMENTS = 20;
inline constexpr int MIN_MATCH = 2;
inline constexpr int MAX_MATCH = 257;
inline constexpr int NUM_PRIMARY_LENGTHS = 7;  // length header 7 means "read the length tree"
inline constexpr int MAX_CODE_LENGTH = 16;

inline constexpr int BLOCK_VERBATIM = 1;
inline constexpr int BLOCK_ALIGNED = 2;
inline constexpr int BLOCK_UNCOMPRESSED = 3;

// Frames after a reset that still get call translation.
inline constexpr uint32_t TRANSLATED_FRAMES = 32768;

// The first bytes of the window are mirrored after its end so that a match
// source running past the window end needs no wrap test.
inline constexpr uint32_t MIRROR_BYTES = 257;

// Number of extra offset bits for each position slot.
inline constexpr std::array<uint8_t, MAX_POSITION_SLOTS + 1> EXTRA_BITS = [] {
    std::array<uint8_t, MAX_POSITION_SLOTS + 1> bits{};
    for (int slot = 0; slot <= MAX_POSITION_SLOTS; ++slot) {
        int extra = slot < 4 ? 0 : (slot - 2) / 2;
        bits[slot] = static_cast<uint8_t>(extra > 17 ? 17 : extra);
    }
    return bits;
}();

// First formatted offset of each slot (the match offset plus 2).
inline constexpr std::array<uint32_t, MAX_POSITION_SLOTS + 1> POSITION_BASE = [] {
    std::array<uint32_t, MAX_POSITION_SLOTS + 1> base{};
    for (int slot = 1; slot <= MAX_POSITION_SLOTS; ++slot) {
        base[slot] = base[slot - 1] + (1u << EXTRA_BITS[slot - 1]);
    }
    return base;
}();

static_assert(POSITION_BASE[30] == 32768 && POSITION_BASE[50] == 2097152);

// Position slots needed to cover a window of 2^windowBits bytes.
constexpr int PositionSlots(int windowBits) {
    uint32_t size = 1u << windowBits;
    int slots = 0;
    while (POSITION_BASE[slots] < size) ++slots;
    return slots;
}

static_assert(PositionSlots(15) == 30 && PositionSlots(16) == 32 && PositionSlots(17) == 34 &&
              PositionSlots(18) == 36 && PositionSlots(19) == 38 && PositionSlots(20) == 42 &&
              PositionSlots(21) == 50);

// The slot of a formatted offset (match offset + 2, at least 3).
inline int PositionSlotOf(uint32_t formatted) {
    if (formatted < 4) return static_cast<int>(formatted);
    if (formatted >= 262144) return 36 + static_cast<int>((formatted - 262144) >> 17);
    int high = 31 - __builtin_clz(formatted);
    return 2 * high + static_cast<int>((formatted >> (high - 1)) & 1);
}

}  // namespace cab::lzx
