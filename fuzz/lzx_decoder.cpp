// Fuzzes the LZX decoder directly, frame by frame with sizes from the input.
//
// Input: one byte choosing the mode and window, then frames, each made of a
// 16-bit output size (taken modulo 32769), a 16-bit input size (cut to what is
// left) and the frame's bytes; an output size with the top bit set resets the
// decoder first. In round-trip mode (top bit of the first byte) the rest of
// the input is compressed with the encoder and must decode to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/decoder.h"
#include "cabinet/writer/lzx_encoder.h"

namespace {

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* memory) { std::free(memory); }

cab::DecoderHandle MakeDecoder(int windowBits) {
    cab::DecoderServices services;
    services.alloc = Alloc;
    services.free = Free;
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    cab::DecoderHandle handle = nullptr;
    if (cab::LzxCreate(&maxBlock, 1u << windowBits, &bufferSize, services, &handle) !=
        CAB_DECODER_OK) {
        std::abort();
    }
    return handle;
}

int Decode(cab::DecoderHandle handle, const uint8_t* data, uint32_t size, uint32_t outputSize,
           std::vector<uint8_t>& output) {
    // Exact-size heap copies so that any read or write past them is caught.
    uint8_t* input = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(input, data, size);
    uint8_t* out = static_cast<uint8_t*>(std::malloc(outputSize ? outputSize : 1));
    uint32_t produced = outputSize;
    int result = cab::LzxDecompress(handle, input, size, out, &produced);
    if (result == CAB_DECODER_OK) {
        if (produced != outputSize) std::abort();
        output.assign(out, out + outputSize);
    }
    std::free(out);
    std::free(input);
    return result;
}

void RoundTrip(const uint8_t* data, size_t size, uint8_t mode) {
    cab::LzxEncoderOptions options;
    options.windowBits = 15 + (mode & 3);
    options.translateE8 = (mode & 4) != 0;
    options.forcedBlockType = static_cast<int>((mode >> 3) & 3);
    options.blockFrames = (mode & 0x20) ? 2 : 1;
    options.maxChain = 8;
    auto encoder = cab::MakeLzxEncoder(options);
    cab::DecoderHandle handle = MakeDecoder(options.windowBits);
    std::vector<uint8_t> output;
    size_t pos = 0;
    do {
        uint32_t frame = static_cast<uint32_t>(size - pos < 32768 ? size - pos : 32768);
        std::vector<uint8_t> compressed;
        if (!encoder->EncodeFrame(data + pos, frame, pos + frame >= size, compressed)) std::abort();
        if (compressed.size() > 38912) std::abort();
        if (Decode(handle, compressed.data(), static_cast<uint32_t>(compressed.size()), frame,
                   output) != CAB_DECODER_OK) {
            std::abort();
        }
        if (frame && std::memcmp(output.data(), data + pos, frame) != 0) std::abort();
        pos += frame;
    } while (pos < size);
    cab::LzxDestroy(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 0x80) {
        RoundTrip(data, size, mode);
        return 0;
    }
    // One decoder per window size for the whole run (creating one clears its
    // window, which would dominate the run time); each input starts a folder.
    static cab::DecoderHandle decoders[7] = {};
    cab::DecoderHandle& handle = decoders[mode % 7];
    if (handle == nullptr) handle = MakeDecoder(15 + mode % 7);
    cab::LzxReset(handle);
    std::vector<uint8_t> output;
    while (size >= 4) {
        uint32_t outputField = data[0] | data[1] << 8;
        uint32_t inputSize = data[2] | data[3] << 8;
        data += 4;
        size -= 4;
        if (inputSize > size) inputSize = static_cast<uint32_t>(size);
        if (outputField & 0x8000) cab::LzxReset(handle);
        uint32_t outputSize = outputField & 0x7FFF;
        if (outputSize == 0x7FFF) outputSize = 32768;
        int result = Decode(handle, data, inputSize, outputSize, output);
        data += inputSize;
        size -= inputSize;
        if (result != CAB_DECODER_OK) break;  // the reader abandons the folder
    }
    return 0;
}
