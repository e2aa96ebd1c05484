// Placeholder until the Quantum decoder lands: every handle request fails.
#include "cabinet/decoder.h"

namespace cab {

int QuantumQuery(uint32_t* maxBlockSize, int windowBits, int processorHint,
                 uint32_t* compressedBufferSize) {
    (void)maxBlockSize;
    (void)windowBits;
    (void)processorHint;
    *compressedBufferSize = kMaxBlockSize + 10240;
    return CAB_DECODER_OK;
}

int QuantumCreate(uint32_t* maxBlockSize, int windowBits, int processorHint,
                  uint32_t* compressedBufferSize, const DecoderServices&, DecoderHandle* handle) {
    *handle = nullptr;
    QuantumQuery(maxBlockSize, windowBits, processorHint, compressedBufferSize);
    return CAB_DECODER_DATA_ERROR;
}

int QuantumDecompress(DecoderHandle, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
    return CAB_DECODER_BAD_HANDLE;
}

int QuantumReset(DecoderHandle) { return CAB_DECODER_BAD_HANDLE; }

int QuantumDestroy(DecoderHandle) { return CAB_DECODER_BAD_HANDLE; }

}  // namespace cab
