// Decoder services on the process heap, shared by the decoding benchmarks.
#pragma once

#include <cstdlib>

#include "cabinet/decoder.h"

inline cab::DecoderServices HeapServices() {
    cab::DecoderServices services;
    services.alloc = [](uint32_t size) { return std::malloc(size); };
    services.free = [](void* memory) { std::free(memory); };
    return services;
}
