// Placeholder until the Mszip decoder lands: every handle request fails.
#include "cabinet/decoder.h"

namespace cab {

int MszipQuery(uint32_t* maxBlockSize, uint32_t* compressedBufferSize) {
    (void)maxBlockSize;
    *compressedBufferSize = kMaxBlockSize + 12;
    return CAB_DECODER_OK;
}

int MszipCreate(uint32_t* maxBlockSize, uint32_t* compressedBufferSize, const DecoderServices&,
                DecoderHandle* handle) {
    *handle = nullptr;
    MszipQuery(maxBlockSize, compressedBufferSize);
    return CAB_DECODER_DATA_ERROR;
}

int MszipDecompress(DecoderHandle, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
    return CAB_DECODER_BAD_HANDLE;
}

int MszipReset(DecoderHandle) { return CAB_DECODER_BAD_HANDLE; }

int MszipDestroy(DecoderHandle) { return CAB_DECODER_BAD_HANDLE; }

}  // namespace cab
