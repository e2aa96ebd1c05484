// Slot tables of the Quantum format: match positions and lengths are sent as a
// slot (an arithmetic-coded symbol) plus raw extra bits that select a value
// within the slot.
#pragma once

#include <cstdint>

namespace cab {

inline constexpr int QUANTUM_MIN_WINDOW_BITS = 10;
inline constexpr int QUANTUM_MAX_WINDOW_BITS = 21;
inline constexpr int QUANTUM_POSITION_SLOTS = 42;
inline constexpr int QUANTUM_LENGTH_SLOTS = 27;

// Match lengths: selector 4 is a match of 3 bytes, 5 one of 4 bytes, 6 a longer
// match whose length is the length slot's base plus its extra bits plus 5.
inline constexpr uint32_t QUANTUM_LONG_MATCH_MIN = 5;
inline constexpr uint32_t QUANTUM_LONG_MATCH_MAX = 259;  // base 254 of the last slot, + 5

// Positions reachable by the two short-match position models.
inline constexpr uint32_t QUANTUM_LENGTH3_LIMIT = 4096;
inline constexpr uint32_t QUANTUM_LENGTH4_LIMIT = 262144;

struct QuantumSlotTables {
    uint32_t positionBase[QUANTUM_POSITION_SLOTS];
    uint8_t positionExtra[QUANTUM_POSITION_SLOTS];
    uint32_t lengthBase[QUANTUM_LENGTH_SLOTS];
    uint8_t lengthExtra[QUANTUM_LENGTH_SLOTS];
};

constexpr QuantumSlotTables MakeQuantumSlotTables() {
    QuantumSlotTables t{};
    uint32_t base = 0;
    for (int slot = 0; slot < QUANTUM_POSITION_SLOTS; ++slot) {
        t.positionExtra[slot] = static_cast<uint8_t>(slot < 4 ? 0 : slot / 2 - 1);
        t.positionBase[slot] = base;
        base += 1u << t.positionExtra[slot];
    }
    base = 0;
    for (int slot = 0; slot < QUANTUM_LENGTH_SLOTS; ++slot) {
        int extra = (slot < 6 || slot == 26) ? 0 : (slot - 2) / 4;
        t.lengthExtra[slot] = static_cast<uint8_t>(extra);
        t.lengthBase[slot] = base;
        base += 1u << extra;
    }
    return t;
}

inline constexpr QuantumSlotTables QUANTUM_SLOTS = MakeQuantumSlotTables();

// The number of position slots whose base lies below `limit`.
constexpr int QuantumSlotsBelow(uint32_t limit) {
    int count = 0;
    while (count < QUANTUM_POSITION_SLOTS && QUANTUM_SLOTS.positionBase[count] < limit) ++count;
    return count;
}

static_assert(QUANTUM_SLOTS.positionBase[41] == 1572864);
static_assert(QUANTUM_SLOTS.positionExtra[41] == 19);
static_assert(QUANTUM_SLOTS.lengthBase[26] == 254);
static_assert(QUANTUM_SLOTS.lengthBase[25] == 222 && QUANTUM_SLOTS.lengthExtra[25] == 5);

}  // namespace cab
