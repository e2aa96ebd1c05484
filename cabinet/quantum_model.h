// Adaptive frequency models of the Quantum format, shared by the decoder and
// the encoder so that both adapt identically.
//
// A model keeps its symbols in an array ordered by descending cumulative
// frequency; cumulativeFrequency[entries] is 0. Coding symbol index k moves 8
// into the counts of indexes 0..k. When the total passes 3800 the model is
// rescaled: usually the cumulative values are halved, and every 50th time (the
// first time after 4) they are turned into single frequencies, re-sorted by an
// exchange sort and rebuilt. The coded stream depends on the exact order that
// sort leaves ties in.
#pragma once

#include <cstdint>

namespace cab {

inline constexpr int kQuantumMaxModelEntries = 64;
// Room for the terminating zero, padded so that scans may run over whole
// vectors; every entry past `entries` stays 0.
inline constexpr int kQuantumModelCapacity = 80;
inline constexpr uint32_t kQuantumRescaleThreshold = 3800;
inline constexpr uint32_t kQuantumFrequencyStep = 8;

struct QuantumModel {
    int entries;
    int shiftsLeft;
    uint32_t rescales;  // since initialisation, for tests and tuning
    alignas(32) uint16_t cumulativeFrequency[kQuantumModelCapacity];
    alignas(32) uint16_t symbol[kQuantumModelCapacity];
};

void QuantumModelInit(QuantumModel& model, int entries);
void QuantumModelRescale(QuantumModel& model);

// Credits the symbol at `index` after it has been coded.
inline void QuantumModelUpdate(QuantumModel& model, int index) {
    uint16_t* cumulative = model.cumulativeFrequency;
    for (int j = 0; j <= index; ++j) cumulative[j] = static_cast<uint16_t>(cumulative[j] + 8);
    if (cumulative[0] > kQuantumRescaleThreshold) QuantumModelRescale(model);
}

// All models of one stream.
struct QuantumModels {
    QuantumModel selector;
    QuantumModel literal[4];
    QuantumModel position3;     // matches of 3 bytes
    QuantumModel position4;     // matches of 4 bytes
    QuantumModel positionLong;  // longer matches
    QuantumModel length;        // length slot of longer matches
};

// Sets every model to its initial state for a window of 2^windowBits bytes.
void QuantumModelsInit(QuantumModels& models, int windowBits);

}  // namespace cab
