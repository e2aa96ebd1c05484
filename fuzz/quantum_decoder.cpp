// Feeds arbitrary blocks to the Quantum decoder, in memory and with the window
// in a scratch file, and checks that bytes the encoder made round-trip. Every
// block the decoder accepts must decode the same with the plain reference
// decoder of the tests.
//
// Input: byte 0 picks the window exponent (10 to 21) and the mode; then blocks
// of [compressed size: 2 bytes][output size: 2 bytes][data].
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/decoder.h"
#include "cabinet/writer/quantum_encoder.h"
#include "tests/cabinet/quantum_reference_decoder.h"

namespace {

// The scratch file lives in memory here: a growing byte vector.
std::vector<uint8_t> scratch;
long scratchPosition = 0;
bool refuseWindow = false;
uint32_t refusedSize = 0;

void* Alloc(uint32_t size) {
    if (refuseWindow && size >= refusedSize) return nullptr;
    return std::malloc(size);
}
void Free(void* memory) { std::free(memory); }
int Open(const char* path, int, int) {
    if (std::strcmp(path, "*") != 0) return -1;
    scratch.clear();
    scratchPosition = 0;
    return 3;
}
int Read(int, void* buffer, uint32_t count) {
    if (scratchPosition + static_cast<long>(count) > static_cast<long>(scratch.size())) return 0;
    std::memcpy(buffer, scratch.data() + scratchPosition, count);
    scratchPosition += count;
    return static_cast<int>(count);
}
int Write(int, const void* buffer, uint32_t count) {
    if (scratch.size() < static_cast<size_t>(scratchPosition) + count) {
        scratch.resize(scratchPosition + count);
    }
    std::memcpy(scratch.data() + scratchPosition, buffer, count);
    scratchPosition += count;
    return static_cast<int>(count);
}
int Close(int) { return 0; }
long Seek(int, long offset, int origin) {
    scratchPosition = origin == 0 ? offset : scratchPosition + offset;
    return scratchPosition;
}

void DecodeBlocks(int bits, bool paged, const uint8_t* data, size_t size) {
    cab::DecoderServices services{Alloc, Free, Open, Read, Write, Close, Seek};
    refuseWindow = paged;
    refusedSize = 1u << bits;
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    cab::DecoderHandle handle = nullptr;
    if (cab::QuantumCreate(&maxBlock, bits, 0, &bufferSize, services, &handle) != CAB_DECODER_OK) {
        refuseWindow = false;
        return;
    }
    refuseWindow = false;
    std::vector<uint8_t> output(32768);
    std::vector<uint8_t> expected;
    cab::quantum_test::ReferenceQuantumDecoder reference(bits);
    bool comparable = true;  // both decoders went through the same blocks, all accepted
    size_t offset = 0;
    while (offset + 4 <= size) {
        uint32_t inputSize = data[offset] | (data[offset + 1] << 8);
        uint32_t outputSize = (data[offset + 2] | (data[offset + 3] << 8)) & 0x7FFF;
        offset += 4;
        if (inputSize > size - offset) inputSize = static_cast<uint32_t>(size - offset);
        // A copy of exactly the block's bytes, so that reading past it is caught.
        std::vector<uint8_t> input(data + offset, data + offset + inputSize);
        offset += inputSize;
        const bool accepted = cab::QuantumDecompress(handle, input.data(), inputSize, output.data(),
                                                     &outputSize) == CAB_DECODER_OK;
        if (comparable) {
            const bool referenceAccepted =
                reference.Decode(input.data(), inputSize, outputSize, expected);
            if (accepted && (!referenceAccepted || expected.size() != outputSize ||
                             !std::equal(expected.begin(), expected.end(), output.begin()))) {
                std::abort();
            }
        }
        if (!accepted) {
            // After a failure the two may stand at different points of the
            // block, and their windows may hold different bytes; a reset keeps
            // the window, so they are not compared again. Ours is still reset
            // now and then and driven on.
            comparable = false;
            if (offset & 1) cab::QuantumReset(handle);
        }
    }
    cab::QuantumDestroy(handle);
}

void RoundTrip(int bits, const uint8_t* data, size_t size) {
    cab::QuantumEncoder encoder(bits);
    cab::DecoderServices services{Alloc, Free, Open, Read, Write, Close, Seek};
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    cab::DecoderHandle handle = nullptr;
    if (cab::QuantumCreate(&maxBlock, bits, 0, &bufferSize, services, &handle) != CAB_DECODER_OK) {
        std::abort();
    }
    std::vector<uint8_t> output(32768);
    // Short frames so that small inputs still cross block ends.
    const size_t frame = 1 + (size % 3000);
    for (size_t offset = 0; offset < size; offset += frame) {
        uint32_t length = static_cast<uint32_t>(std::min(frame, size - offset));
        std::vector<uint8_t> block;
        if (!encoder.EncodeFrame(data + offset, length, offset + length == size, block)) {
            std::abort();
        }
        uint32_t produced = length;
        if (cab::QuantumDecompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                   output.data(), &produced) != CAB_DECODER_OK ||
            std::memcmp(output.data(), data + offset, length) != 0) {
            std::abort();
        }
    }
    cab::QuantumDestroy(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int bits = 10 + (data[0] & 0x0F) % 12;
    const int mode = data[0] >> 4;
    if (mode < 6) {
        DecodeBlocks(bits, false, data + 1, size - 1);
    } else if (mode < 12) {
        // Paged windows of 4 to 16 pages keep runs fast; the paging is the same.
        DecodeBlocks(14 + (data[0] & 0x0F) % 3, true, data + 1, size - 1);
    } else {
        RoundTrip(10 + (data[0] & 0x0F) % 7, data + 1, size - 1);
    }
    return 0;
}
