#include "cabinet/quantum_model.h"

#include <algorithm>
#include <cstring>

#include "cabinet/quantum_tables.h"

namespace cab {

void QuantumModelInit(QuantumModel& model, int entries) {
    model.entries = entries;
    model.shiftsLeft = 4;
    model.rescales = 0;
    std::memset(model.cumulativeFrequency, 0, sizeof model.cumulativeFrequency);
    std::memset(model.symbol, 0, sizeof model.symbol);
    for (int i = 0; i <= entries; ++i) {
        model.cumulativeFrequency[i] = static_cast<uint16_t>(entries - i);
        model.symbol[i] = static_cast<uint16_t>(i);
    }
}

void QuantumModelRescale(QuantumModel& model) {
    uint16_t* cumulative = model.cumulativeFrequency;
    uint16_t* symbol = model.symbol;
    const int entries = model.entries;
    ++model.rescales;
    if (--model.shiftsLeft != 0) {
        for (int i = entries - 1; i >= 0; --i) {
            uint16_t halved = static_cast<uint16_t>(cumulative[i] >> 1);
            if (halved <= cumulative[i + 1]) halved = static_cast<uint16_t>(cumulative[i + 1] + 1);
            cumulative[i] = halved;
        }
        return;
    }
    model.shiftsLeft = 50;
    for (int i = 0; i < entries; ++i) {
        cumulative[i] = static_cast<uint16_t>((cumulative[i] - cumulative[i + 1] + 1) >> 1);
    }
    // The order of equal frequencies this exchange sort leaves behind is part
    // of the format: it is not a stable sort.
    for (int i = 0; i < entries - 1; ++i) {
        for (int j = i + 1; j < entries; ++j) {
            if (cumulative[i] < cumulative[j]) {
                std::swap(cumulative[i], cumulative[j]);
                std::swap(symbol[i], symbol[j]);
            }
        }
    }
    for (int i = entries - 1; i >= 0; --i) {
        cumulative[i] = static_cast<uint16_t>(cumulative[i] + cumulative[i + 1]);
    }
}

void QuantumModelsInit(QuantumModels& models, int windowBits) {
    const uint32_t windowSize = 1u << windowBits;
    QuantumModelInit(models.selector, 7);
    for (QuantumModel& literal : models.literal) QuantumModelInit(literal, 64);
    QuantumModelInit(models.position3,
                     QuantumSlotsBelow(std::min(windowSize, QUANTUM_LENGTH3_LIMIT)));
    QuantumModelInit(models.position4,
                     QuantumSlotsBelow(std::min(windowSize, QUANTUM_LENGTH4_LIMIT)));
    QuantumModelInit(models.positionLong, QuantumSlotsBelow(windowSize));
    QuantumModelInit(models.length, QUANTUM_LENGTH_SLOTS);
}

}  // namespace cab
