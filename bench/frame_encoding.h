// A corpus encoded frame by frame (32768 bytes each) by one of our encoders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench/processor_time.h"
#include "cabinet/writer/folder_encoder.h"

namespace bench_frames {

using Bytes = std::vector<uint8_t>;
constexpr size_t FRAME = 32768;

struct Frames {
    std::vector<Bytes> blocks;
    size_t bytes = 0;  // of all blocks together
};

// Encodes `data` as one folder; `seconds`, when given, gets the processor time.
inline Frames Encode(cab::FolderEncoder& encoder, const Bytes& data, double* seconds = nullptr) {
    Frames frames;
    const double start = bench_time::CpuSeconds();
    for (size_t pos = 0; pos < data.size(); pos += FRAME) {
        const uint32_t size = static_cast<uint32_t>(std::min(FRAME, data.size() - pos));
        frames.blocks.emplace_back();
        if (!encoder.EncodeFrame(data.data() + pos, size, pos + size >= data.size(),
                                 frames.blocks.back()))
            bench_time::Fail("encoding failed");
        frames.bytes += frames.blocks.back().size();
    }
    if (seconds != nullptr) *seconds = bench_time::CpuSeconds() - start;
    return frames;
}

}  // namespace bench_frames
