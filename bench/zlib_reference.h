// The reference the decoding benchmarks measure against: the whole corpus
// deflated by zlib in one piece and inflated again in one call.
#pragma once

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

namespace bench_zlib {

// The corpus deflated at `level` (zlib format); empty when zlib fails.
inline std::vector<uint8_t> DeflateWhole(const std::vector<uint8_t>& data, int level) {
    uLongf bound = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> deflated(bound);
    if (compress2(deflated.data(), &bound, data.data(), static_cast<uLong>(data.size()), level) !=
        Z_OK) {
        return {};
    }
    deflated.resize(bound);
    return deflated;
}

// The benchmark body: inflates `deflated` back into its `size` bytes.
inline void InflateWhole(benchmark::State& state, const std::vector<uint8_t>& deflated,
                         size_t size) {
    std::vector<uint8_t> output(size);
    for (auto _ : state) {
        uLongf outputSize = static_cast<uLongf>(output.size());
        if (uncompress(output.data(), &outputSize, deflated.data(),
                       static_cast<uLong>(deflated.size())) != Z_OK) {
            state.SkipWithError("inflate failed");
            break;
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

}  // namespace bench_zlib
