// Internal to the cabinet library: the five operations every codec provides.
//
// query    reports the compressed buffer size needed for blocks of up to
//          *maxBlockSize output bytes (0 or above 32768 becomes 32768); no handle.
// create   the same, then makes a handle whose first field is a 32-bit
//          signature word. Memory comes from the caller's callbacks.
// decompress decodes one data block. MSZIP is given the output capacity and
//          reports what it produced; LZX and Quantum produce exactly
//          *outputSize bytes.
// reset    forgets the history so the next block starts a new folder.
// destroy  clears the signature word and frees everything.
//
// Every operation answers one of the CAB_DECODER_* codes.
#pragma once

#include <cstdint>

#include "cabinet.h"
#include "cabinet_format.h"

namespace cab {

// The caller's services a decoder may use.
struct DecoderServices {
    CabAllocFn alloc = nullptr;
    CabFreeFn free = nullptr;
    CabOpenFn open = nullptr;  // open to seek: Quantum's scratch file only
    CabReadFn read = nullptr;
    CabWriteFn write = nullptr;
    CabCloseFn close = nullptr;
    CabSeekFn seek = nullptr;
};

using DecoderHandle = void*;

// What every operation does first: 0 or a size above MAX_BLOCK_SIZE asks for
// MAX_BLOCK_SIZE. Answers the clamped size.
inline uint32_t ClampBlockSize(uint32_t* maxBlockSize) {
    if (*maxBlockSize == 0 || *maxBlockSize > MAX_BLOCK_SIZE) *maxBlockSize = MAX_BLOCK_SIZE;
    return *maxBlockSize;
}

// The decoder's handle when `handle` is one (its signature word matches),
// else null: the check every operation makes before touching the handle.
template <class Handle>
Handle* CheckedHandle(DecoderHandle handle, uint32_t signature) {
    auto* checked = static_cast<Handle*>(handle);
    return checked != nullptr && checked->signature == signature ? checked : nullptr;
}

// The last step of every destroy: the signature word is cleared so that a
// stale handle is refused, then the handle itself is freed.
template <class Handle>
void ReleaseHandle(Handle* handle, CabFreeFn free) {
    handle->signature = 0;
    handle->~Handle();
    free(handle);
}

int MszipQuery(uint32_t* maxBlockSize, uint32_t* compressedBufferSize);
int MszipCreate(uint32_t* maxBlockSize, uint32_t* compressedBufferSize,
                const DecoderServices& services, DecoderHandle* handle);
int MszipDecompress(DecoderHandle handle, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                    uint32_t* outputSize);
int MszipReset(DecoderHandle handle);
int MszipDestroy(DecoderHandle handle);

int LzxQuery(uint32_t* maxBlockSize, uint32_t windowSize, uint32_t* compressedBufferSize);
int LzxCreate(uint32_t* maxBlockSize, uint32_t windowSize, uint32_t* compressedBufferSize,
              const DecoderServices& services, DecoderHandle* handle);
int LzxDecompress(DecoderHandle handle, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                  uint32_t* outputSize);
int LzxReset(DecoderHandle handle);
int LzxDestroy(DecoderHandle handle);

int QuantumQuery(uint32_t* maxBlockSize, int windowBits, int processorHint,
                 uint32_t* compressedBufferSize);
int QuantumCreate(uint32_t* maxBlockSize, int windowBits, int processorHint,
                  uint32_t* compressedBufferSize, const DecoderServices& services,
                  DecoderHandle* handle);
int QuantumDecompress(DecoderHandle handle, const uint8_t* input, uint32_t inputSize,
                      uint8_t* output, uint32_t* outputSize);
int QuantumReset(DecoderHandle handle);
int QuantumDestroy(DecoderHandle handle);

}  // namespace cab
