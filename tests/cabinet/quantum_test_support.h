// Helpers shared by the Quantum tests: test data, an encoded folder split into
// blocks, and a decoder driven block by block as the cabinet reader drives it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cabinet/decoder.h"
#include "cabinet/writer/quantum_encoder.h"

namespace cab::quantum_test {

inline void* TestAlloc(uint32_t size) { return std::malloc(size); }
inline void TestFree(void* memory) { std::free(memory); }

inline DecoderServices MemoryServices() {
    DecoderServices services;
    services.alloc = TestAlloc;
    services.free = TestFree;
    return services;
}

// One folder as the writer would store it.
struct EncodedFolder {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint32_t> sizes;  // uncompressed size of each block
    QuantumEncoderStats stats;
};

inline EncodedFolder EncodeFolder(const std::vector<uint8_t>& data, int windowBits,
                                  uint32_t frameSize = 32768) {
    EncodedFolder folder;
    QuantumEncoder encoder(windowBits);
    size_t offset = 0;
    do {
        uint32_t size = static_cast<uint32_t>(std::min<size_t>(frameSize, data.size() - offset));
        std::vector<uint8_t> block;
        bool ok =
            encoder.EncodeFrame(data.data() + offset, size, offset + size == data.size(), block);
        if (!ok) std::abort();
        folder.blocks.push_back(std::move(block));
        folder.sizes.push_back(size);
        offset += size;
    } while (offset < data.size());
    folder.stats = encoder.stats();
    return folder;
}

// Decodes every block with `handle`; the result code of the first failing
// block, or CAB_DECODER_OK with the output in `out`.
inline int DecodeFolder(DecoderHandle handle, const EncodedFolder& folder,
                        std::vector<uint8_t>& out) {
    out.clear();
    std::vector<uint8_t> buffer(32768);
    for (size_t i = 0; i < folder.blocks.size(); ++i) {
        uint32_t size = folder.sizes[i];
        int result =
            QuantumDecompress(handle, folder.blocks[i].data(),
                              static_cast<uint32_t>(folder.blocks[i].size()), buffer.data(), &size);
        if (result != CAB_DECODER_OK) return result;
        out.insert(out.end(), buffer.begin(), buffer.begin() + size);
    }
    return CAB_DECODER_OK;
}

inline DecoderHandle CreateDecoder(int windowBits,
                                   const DecoderServices& services = MemoryServices()) {
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    DecoderHandle handle = nullptr;
    if (QuantumCreate(&maxBlock, windowBits, 0, &bufferSize, services, &handle) != CAB_DECODER_OK) {
        return nullptr;
    }
    return handle;
}

// Text-like, binary-like and random stretches, with repeats near and far.
inline std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data;
    data.reserve(size);
    static const char* const kWords[] = {"quantum ", "window ", "cabinet ", "folder ", "block ",
                                         "model ",   "\n",      "int ",     "return ", "0x7f, "};
    while (data.size() < size) {
        switch (random() % 5) {
            case 0:
            case 1: {
                int words = 1 + random() % 40;
                for (int i = 0; i < words; ++i) {
                    const char* word = kWords[random() % 10];
                    data.insert(data.end(), word, word + std::char_traits<char>::length(word));
                }
                break;
            }
            case 2: {
                int count = 1 + random() % 200;
                for (int i = 0; i < count; ++i) data.push_back(static_cast<uint8_t>(random()));
                break;
            }
            case 3: {
                if (data.size() < 16) break;
                size_t distance =
                    1 + random() % std::min<size_t>(data.size(), 1u << (1 + random() % 21));
                size_t length = 3 + random() % 300;
                size_t from = data.size() - distance;
                for (size_t i = 0; i < length; ++i) data.push_back(data[from + i]);
                break;
            }
            default: {
                uint32_t value = random();
                int count = 1 + random() % 64;
                for (int i = 0; i < count; ++i) {
                    data.push_back(static_cast<uint8_t>(value & 0xFF));
                    data.push_back(static_cast<uint8_t>(i));
                }
            }
        }
    }
    data.resize(size);
    return data;
}

}  // namespace cab::quantum_test
