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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cab {

inline constexpr int QUANTUM_MAX_MODEL_ENTRIES = 64;
// Room for the terminating zero, padded so that scans may run over whole
// vectors; every entry past `entries` stays 0.
inline constexpr int QUANTUM_MODEL_CAPACITY = 80;
inline constexpr uint32_t QUANTUM_RESCALE_THRESHOLD = 3800;
inline constexpr uint32_t QUANTUM_FREQUENCY_STEP = 8;

struct QuantumModel {
    int entries;
    int shiftsLeft;
    uint32_t rescales;  // since initialisation, for tests and tuning
    uint16_t cumulativeFrequency[QUANTUM_MODEL_CAPACITY];
    uint16_t symbol[QUANTUM_MODEL_CAPACITY];
};

void QuantumModelInit(QuantumModel& model, int entries);
void QuantumModelRescale(QuantumModel& model);

// Credits the symbol at `index` after it has been coded.
inline void QuantumModelUpdate(QuantumModel& model, int index) {
    uint16_t* cumulative = model.cumulativeFrequency;
#if defined(__SSE2__)
    // Eight counts at a time: add 8 where the position is at most `index`.
    const __m128i limit = _mm_set1_epi16(static_cast<short>(index + 1));
    const __m128i step = _mm_set1_epi16(8);
    __m128i position = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i eight = _mm_set1_epi16(8);
    for (int j = 0; j <= index; j += 8) {
        auto* lane = reinterpret_cast<__m128i*>(cumulative + j);
        const __m128i add = _mm_and_si128(_mm_cmpgt_epi16(limit, position), step);
        _mm_storeu_si128(lane, _mm_add_epi16(_mm_loadu_si128(lane), add));
        position = _mm_add_epi16(position, eight);
    }
#else
    for (int j = 0; j <= index; ++j) cumulative[j] = static_cast<uint16_t>(cumulative[j] + 8);
#endif
    if (cumulative[0] > QUANTUM_RESCALE_THRESHOLD) QuantumModelRescale(model);
}

// The index of the first entry past `target`'s symbol: 1 + the number of
// entries from 1 on whose cumulative frequency exceeds target (they fall
// strictly, so this is where a linear search would stop). target is below
// cumulativeFrequency[0].
inline int QuantumModelSearch(const QuantumModel& model, uint32_t target) {
    const uint16_t* cumulative = model.cumulativeFrequency;
#if defined(__SSE2__)
    // Counting entry 0 too (it always exceeds target) gives the index itself;
    // the zero padding never counts. Each lane that exceeds target subtracts
    // one (the compare gives -1) from a running count per lane.
    const __m128i bound = _mm_set1_epi16(static_cast<short>(target));
    __m128i count = _mm_setzero_si128();
    for (int j = 0; j <= model.entries; j += 8) {
        const __m128i lane = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cumulative + j));
        count = _mm_sub_epi16(count, _mm_cmpgt_epi16(lane, bound));
    }
    // Adds the eight lanes (each at most 10).
    count = _mm_add_epi16(count, _mm_srli_si128(count, 8));
    count = _mm_add_epi16(count, _mm_srli_si128(count, 4));
    count = _mm_add_epi16(count, _mm_srli_si128(count, 2));
    return _mm_cvtsi128_si32(count) & 0xFFFF;
#else
    int index = 1;
    while (cumulative[index] > target) ++index;
    return index;
#endif
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
