// Helpers of the LZX tests: a decoder handle driven frame by frame, the
// encoder's output split into frames, and test data.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cabinet/decoder.h"
#include "cabinet/writer/lzx_encoder.h"

namespace cab::lzx_test {

inline void* TestAlloc(uint32_t size) { return std::malloc(size); }
inline void TestFree(void* memory) { std::free(memory); }

// One compressed frame and the number of bytes it decodes to.
struct Frame {
    std::vector<uint8_t> data;
    uint32_t size = 0;
};

class Decoder {
  public:
    explicit Decoder(int windowBits) {
        uint32_t maxBlock = 32768;
        uint32_t bufferSize = 0;
        DecoderServices services;
        services.alloc = TestAlloc;
        services.free = TestFree;
        createResult = LzxCreate(&maxBlock, 1u << windowBits, &bufferSize, services, &handle);
    }
    ~Decoder() {
        if (handle != nullptr) LzxDestroy(handle);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes one frame; the input is copied so that reads past it are caught.
    int Decode(const std::vector<uint8_t>& input, uint32_t size, std::vector<uint8_t>& output) {
        std::vector<uint8_t> copy(input);
        output.assign(size, 0);
        uint32_t outputSize = size;
        int result = LzxDecompress(handle, copy.data(), static_cast<uint32_t>(copy.size()),
                                   output.data(), &outputSize);
        if (result == CAB_DECODER_OK && outputSize != size) return -1;
        return result;
    }

    // Decodes all frames; answers the first failing frame's result.
    int DecodeAll(const std::vector<Frame>& frames, std::vector<uint8_t>& output) {
        output.clear();
        std::vector<uint8_t> piece;
        for (const Frame& frame : frames) {
            int result = Decode(frame.data, frame.size, piece);
            if (result != CAB_DECODER_OK) return result;
            output.insert(output.end(), piece.begin(), piece.end());
        }
        return CAB_DECODER_OK;
    }

    int createResult = -1;
    DecoderHandle handle = nullptr;
};

// Encodes `data` in frames of 32768 bytes (the last one shorter).
inline std::vector<Frame> Encode(const std::vector<uint8_t>& data,
                                 const LzxEncoderOptions& options) {
    std::vector<Frame> frames;
    auto encoder = MakeLzxEncoder(options);
    if (!encoder) return frames;
    size_t pos = 0;
    do {
        uint32_t size = static_cast<uint32_t>(std::min<size_t>(32768, data.size() - pos));
        Frame frame;
        frame.size = size;
        bool last = pos + size >= data.size();
        if (!encoder->EncodeFrame(data.data() + pos, size, last, frame.data)) return {};
        frames.push_back(std::move(frame));
        pos += size;
    } while (pos < data.size());
    return frames;
}

// Text-like data with repeats near and far.
inline std::vector<uint8_t> TextData(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"cabinet ",   "folder ", "window ", "offset ", "the ",
                                         "block ",     "tree ",   "match ",  "length ", "frame\n",
                                         "#include <", "int ",    "return ", "static ", "{\n"};
    std::mt19937 random(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        const char* word = kWords[random() % 15];
        out.insert(out.end(), word, word + std::char_traits<char>::length(word));
        if (random() % 50 == 0) out.push_back(static_cast<uint8_t>(random()));
    }
    out.resize(size);
    return out;
}

inline std::vector<uint8_t> RandomData(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(size);
    for (uint8_t& byte : out) byte = static_cast<uint8_t>(random());
    return out;
}

}  // namespace cab::lzx_test
