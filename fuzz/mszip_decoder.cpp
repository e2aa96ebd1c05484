// Drives the MSZIP decoder directly with a sequence of data blocks, and checks
// it against zlib's inflate: whatever zlib decodes completely (within one
// block's output limit, with the previous full block as history) the decoder
// must decode to the same bytes.
//
// Input: one options byte, then blocks, each a 16-bit little-endian length
// followed by that many bytes. Options: bit 0 leaves the blocks as they are
// (otherwise "CK" is put in front), bit 1 resets the decoder before each block,
// bits 2-3 pick the output capacity.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/decoder.h"

namespace {

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* memory) { std::free(memory); }

// zlib's verdict on a raw deflate block; true when it reached the final block.
bool Inflate(const uint8_t* data, size_t size, const std::vector<uint8_t>* dictionary,
             std::vector<uint8_t>& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return false;
    if (dictionary != nullptr)
        inflateSetDictionary(&stream, dictionary->data(), uInt(dictionary->size()));
    out.assign(cab::MAX_BLOCK_SIZE + 1, 0);
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = uInt(size);
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    inflateEnd(&stream);
    return result == Z_STREAM_END && out.size() <= cab::MAX_BLOCK_SIZE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    static const uint32_t capacities[4] = {cab::MAX_BLOCK_SIZE, cab::MAX_BLOCK_SIZE, 1000, 1};
    const uint32_t capacity = capacities[(options >> 2) & 3];

    uint32_t maxBlock = 0, bufferSize = 0;
    cab::DecoderServices services;
    services.alloc = Alloc;
    services.free = Free;
    cab::DecoderHandle decoder = nullptr;
    if (cab::MszipCreate(&maxBlock, &bufferSize, services, &decoder) != CAB_DECODER_OK) abort();

    std::vector<uint8_t> output(cab::MAX_BLOCK_SIZE);
    std::vector<uint8_t> previous;  // the last block's output when it filled the buffer
    bool havePrevious = false;
    size_t position = 1;
    while (position + 2 <= size) {
        size_t length = data[position] | size_t(data[position + 1]) << 8;
        position += 2;
        length = std::min(length, size - position);
        std::vector<uint8_t> block;
        if (!(options & 1)) block = {'C', 'K'};
        block.insert(block.end(), data + position, data + position + length);
        position += length;

        if (options & 2) {
            if (cab::MszipReset(decoder) != CAB_DECODER_OK) abort();
            havePrevious = false;
        }
        uint32_t produced = capacity;
        const int result = cab::MszipDecompress(decoder, block.data(), uint32_t(block.size()),
                                                output.data(), &produced);
        if (result == CAB_DECODER_OK && produced > capacity) abort();

        // Compare with zlib when the block is a complete deflate stream that
        // fits: the decoder must agree byte for byte.
        std::vector<uint8_t> expected;
        if (block.size() >= 2 && block[0] == 'C' && block[1] == 'K' && block.size() <= bufferSize &&
            capacity == cab::MAX_BLOCK_SIZE &&
            Inflate(block.data() + 2, block.size() - 2, havePrevious ? &previous : nullptr,
                    expected)) {
            if (result != CAB_DECODER_OK || produced != expected.size() ||
                std::memcmp(output.data(), expected.data(), produced) != 0)
                abort();
        }

        havePrevious = result == CAB_DECODER_OK && produced == cab::MAX_BLOCK_SIZE;
        if (havePrevious) previous.assign(output.begin(), output.end());
    }
    if (cab::MszipDestroy(decoder) != CAB_DECODER_OK) abort();
    return 0;
}
