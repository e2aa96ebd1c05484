// Slot tables of the Quantum format: match positions and lengths are sent as a
// slot (an arithmetic-coded symbol) plus raw extra bits that select a value
// within the slot.
#pragma once

#include <cstdint>

namespace cab {

inline constexpr int kQuantumMinWindowBits = 10;
inline constexpr int kQuantumMaxWindowBits = 21;
inline constexpr int kQuantumPositionSlots = 42;
inline constexpr int kQuantumLengthSlots = 27;

// Match lengths: selector 4 is a match of 3 bytes, 5 one of 4 bytes, 6 a longer
// match whose length is the length slot's base plus its extra bits plus 5.
inline constexpr uint32_t kQuantumLongMatchMin = 5;
inline constexpr uint32_t kQuantumLongMatchMax = 259;  // base 254 of the last slot, + 5

// Positions reachable by the two short-match position models.
inline constexpr uint32_t kQuantumLength3Limit = 4096;
inline constexpr uint32_t kQuantumLength4Limit = 262144;

struct QuantumSlotTables {
    uint32_t positionBase[kQuantumPositionSlots];
    uint8_t positionExtra[kQuantumPositionSlots];
    uint32_t lengthBase[kQuantumLengthSlots];
    uint8_t lengthExtra[kQuantumLengthSlots];
};

constexpr QuantumSlotTables MakeQuantumSlotTables() {
    QuantumSlotTables t{};
    uint32_t base = 0;
    for (int slot = 0; slot < kQuantumPositionSlots; ++slot) {
        t.positionExtra[slot] = static_cast<uint8_t>(slot < 4 ? 0 : slot / 2 - 1);
        t.positionBase[slot] = base;
        base += 1u << t.positionExtra[slot];
    }
    base = 0;
    for (int slot = 0; slot < kQuantumLengthSlots; ++slot) {
        int extra = (slot < 6 || slot == 26) ? 0 : (slot - 2) / 4;
        t.lengthExtra[slot] = static_cast<uint8_t>(extra);
        t.lengthBase[slot] = base;
        base += 1u << extra;
    }
    return t;
}

inline constexpr QuantumSlotTables kQuantumSlots = MakeQuantumSlotTables();

// The number of position slots whose base lies below `limit`.
constexpr int QuantumSlotsBelow(uint32_t limit) {
    int count = 0;
    while (count < kQuantumPositionSlots && kQuantumSlots.positionBase[count] < limit) ++count;
    return count;
}

static_assert(kQuantumSlots.positionBase[41] == 1572864);
static_assert(kQuantumSlots.positionExtra[41] == 19);
static_assert(kQuantumSlots.lengthBase[26] == 254);
static_assert(kQuantumSlots.lengthBase[25] == 222 && kQuantumSlots.lengthExtra[25] == 5);

}  // namespace cab
