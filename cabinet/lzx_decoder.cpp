// Placeholder until the Lzx decoder lands: every handle request fails.
#include "cabinet/decoder.h"

namespace cab {

int LzxQuery(uint32_t* maxBlockSize, uint32_t windowSize, uint32_t* compressedBufferSize) {
    (void)maxBlockSize;
    (void)windowSize;
    *compressedBufferSize = kMaxBlockSize + 6144;
    return CAB_DECODER_OK;
}

int LzxCreate(uint32_t* maxBlockSize, uint32_t windowSize, uint32_t* compressedBufferSize,
              const DecoderServices&, DecoderHandle* handle) {
    *handle = nullptr;
    LzxQuery(maxBlockSize, windowSize, compressedBufferSize);
    return CAB_DECODER_DATA_ERROR;
}

int LzxDecompress(DecoderHandle, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
    return CAB_DECODER_BAD_HANDLE;
}

int LzxReset(DecoderHandle) { return CAB_DECODER_BAD_HANDLE; }

int LzxDestroy(DecoderHandle) { return CAB_DECODER_BAD_HANDLE; }

}  // namespace cab
