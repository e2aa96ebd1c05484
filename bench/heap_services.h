// Decoder services on the process heap, shared by the decoding benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "cabinet/decoder.h"

inline cab::DecoderServices HeapServices() {
    cab::DecoderServices services;
    services.alloc = [](uint32_t size) { return std::malloc(size); };
    services.free = [](void* memory) { std::free(memory); };
    return services;
}

// A decoder for blocks of up to 32768 bytes made on the heap by `create`
// (given the block size, the compressed buffer size to fill, the services and
// the handle to fill); null, with the benchmark marked failed, when it cannot
// be made. bufferSize may be null.
template <class Create>
cab::DecoderHandle CreateOnHeap(benchmark::State& state, uint32_t* bufferSize, Create create) {
    uint32_t maxBlock = cab::MAX_BLOCK_SIZE;
    uint32_t unused = 0;
    cab::DecoderHandle handle = nullptr;
    if (create(&maxBlock, bufferSize != nullptr ? bufferSize : &unused, HeapServices(), &handle) !=
        CAB_DECODER_OK) {
        state.SkipWithError("create failed");
        return nullptr;
    }
    return handle;
}
