// Dispatch to the decoders: choosing, creating, resetting and destroying the
// decoder of the current folder, and decoding one data block into the output
// buffer.
#include <cstring>

#include "cabinet/reader_context.h"

namespace cab {

namespace {

int Codec(uint16_t compressionType) { return compressionType & CAB_CODEC_MASK; }
int WindowBits(uint16_t compressionType) {
    return (compressionType & CAB_CODEC_WINDOW_MASK) >> CAB_CODEC_WINDOW_SHIFT;
}

bool IsDecoderCodec(int codec) {
    return codec == CAB_CODEC_MSZIP || codec == CAB_CODEC_QUANTUM || codec == CAB_CODEC_LZX;
}

void FreeBuffers(CabContext* context) {
    if (context->compressedBuffer != nullptr) context->free(context->compressedBuffer);
    if (context->outputBuffer != nullptr) context->free(context->outputBuffer);
    context->compressedBuffer = nullptr;
    context->outputBuffer = nullptr;
}

DecoderServices Services(const CabContext* context) {
    DecoderServices services;
    services.alloc = context->alloc;
    services.free = context->free;
    services.open = context->open;
    services.read = context->read;
    services.write = context->write;
    services.close = context->close;
    services.seek = context->seek;
    return services;
}

int Query(CabContext* context, uint16_t type) {
    uint32_t maxBlock = context->maxBlockSize;
    switch (Codec(type)) {
        case CAB_CODEC_MSZIP:
            return MszipQuery(&maxBlock, &context->compressedBufferSize);
        case CAB_CODEC_QUANTUM:
            return QuantumQuery(&maxBlock, WindowBits(type), context->processorHint,
                                &context->compressedBufferSize);
        default:
            return LzxQuery(&maxBlock, 1u << WindowBits(type), &context->compressedBufferSize);
    }
}

int Create(CabContext* context, uint16_t type) {
    uint32_t maxBlock = context->maxBlockSize;
    uint32_t bufferSize = context->compressedBufferSize;
    const DecoderServices services = Services(context);
    context->decoder = nullptr;
    switch (Codec(type)) {
        case CAB_CODEC_MSZIP:
            return MszipCreate(&maxBlock, &bufferSize, services, &context->decoder);
        case CAB_CODEC_QUANTUM:
            return QuantumCreate(&maxBlock, WindowBits(type), context->processorHint, &bufferSize,
                                 services, &context->decoder);
        default:
            return LzxCreate(&maxBlock, 1u << WindowBits(type), &bufferSize, services,
                             &context->decoder);
    }
}

}  // namespace

bool DestroyDecoder(CabContext* context) {
    const int codec = Codec(context->codecType);
    int result = CAB_DECODER_OK;
    if (IsDecoderCodec(codec)) {
        switch (codec) {
            case CAB_CODEC_MSZIP:
                result = MszipDestroy(context->decoder);
                break;
            case CAB_CODEC_QUANTUM:
                result = QuantumDestroy(context->decoder);
                break;
            default:
                result = LzxDestroy(context->decoder);
                break;
        }
        context->decoder = nullptr;
    }
    FreeBuffers(context);
    context->codecType = CAB_CODEC_UNSET;
    if (result != CAB_DECODER_OK) return Fail(context, CAB_ERROR_DECODE);
    return true;
}

bool ResetDecoder(CabContext* context) {
    int result = CAB_DECODER_OK;
    switch (Codec(context->codecType)) {
        case CAB_CODEC_MSZIP:
            result = MszipReset(context->decoder);
            break;
        case CAB_CODEC_QUANTUM:
            result = QuantumReset(context->decoder);
            break;
        case CAB_CODEC_LZX:
            result = LzxReset(context->decoder);
            break;
        default:
            break;
    }
    if (result != CAB_DECODER_OK) return Fail(context, CAB_ERROR_DECODE);
    return true;
}

bool SetDecoder(CabContext* context, uint16_t type) {
    const int codec = Codec(type);
    // Codec 15 is the reader's own "no decoder" marker: a folder that
    // declares it has no way to be read, so it is refused like 4 to 14, also
    // by a context that has no decoder yet.
    if (codec != CAB_CODEC_NONE && !IsDecoderCodec(codec)) {
        return Fail(context, CAB_ERROR_BAD_CODEC);
    }
    if (type == context->codecType) return true;
    if (!DestroyDecoder(context)) return false;
    context->maxBlockSize = kMaxBlockSize;
    if (codec == CAB_CODEC_NONE) {
        context->compressedBufferSize = kMaxBlockSize;
    } else if (Query(context, type) != CAB_DECODER_OK) {
        return Fail(context, CAB_ERROR_DECODE);
    }
    context->compressedBuffer =
        static_cast<uint8_t*>(context->alloc(context->compressedBufferSize));
    if (context->compressedBuffer == nullptr) return Fail(context, CAB_ERROR_NO_MEMORY);
    const uint32_t outputSize = codec == CAB_CODEC_NONE ? kStoredRunSize : kMaxBlockSize;
    context->outputBuffer = static_cast<uint8_t*>(context->alloc(outputSize));
    if (context->outputBuffer == nullptr) {
        FreeBuffers(context);
        return Fail(context, CAB_ERROR_NO_MEMORY);
    }
    if (IsDecoderCodec(codec)) {
        const int result = Create(context, type);
        if (result != CAB_DECODER_OK) {
            context->decoder = nullptr;
            FreeBuffers(context);
            return Fail(context,
                        result == CAB_DECODER_NO_MEMORY ? CAB_ERROR_NO_MEMORY : CAB_ERROR_DECODE);
        }
    }
    context->codecType = type;
    return true;
}

bool DecodeBlock(CabContext* context, uint32_t compressedSize, uint32_t uncompressedSize) {
    // No block may produce more than the output buffer holds.
    if (uncompressedSize > kMaxBlockSize) return Fail(context, CAB_ERROR_DECODE);
    uint32_t produced = 0;
    int result = CAB_DECODER_OK;
    switch (Codec(context->codecType)) {
        case CAB_CODEC_NONE:
            if (compressedSize > kMaxBlockSize) return Fail(context, CAB_ERROR_DECODE);
            std::memcpy(context->outputBuffer, context->compressedBuffer, compressedSize);
            produced = compressedSize;
            break;
        case CAB_CODEC_MSZIP:
            produced = kMaxBlockSize;
            result = MszipDecompress(context->decoder, context->compressedBuffer, compressedSize,
                                     context->outputBuffer, &produced);
            break;
        case CAB_CODEC_QUANTUM:
            produced = uncompressedSize;
            result = QuantumDecompress(context->decoder, context->compressedBuffer, compressedSize,
                                       context->outputBuffer, &produced);
            break;
        case CAB_CODEC_LZX:
            produced = uncompressedSize;
            result = LzxDecompress(context->decoder, context->compressedBuffer, compressedSize,
                                   context->outputBuffer, &produced);
            break;
        default:
            return Fail(context, CAB_ERROR_DECODE);
    }
    if (result != CAB_DECODER_OK || produced != uncompressedSize) {
        return Fail(context, CAB_ERROR_DECODE);
    }
    return true;
}

}  // namespace cab
