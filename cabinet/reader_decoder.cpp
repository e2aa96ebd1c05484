// Dispatch to the decoders: choosing, creating, resetting and destroying the
// decoder of the current folder, and decoding one data block into the output
// buffer. The decoder's operations are looked up once, when a folder sets its
// compression type; every later step goes through that entry.
#include <cstring>

#include "cabinet/reader_context.h"

namespace cab {

// The parameters a compression type word carries beside its codec.
struct CodecParameters {
    int windowBits;
    int processorHint;
};

// The five operations of one decoder behind one signature.
struct CodecOperations {
    int (*query)(const CodecParameters& parameters, uint32_t* maxBlockSize,
                 uint32_t* compressedBufferSize);
    int (*create)(const CodecParameters& parameters, uint32_t* maxBlockSize,
                  uint32_t* compressedBufferSize, const DecoderServices& services,
                  DecoderHandle* handle);
    int (*decompress)(DecoderHandle handle, const uint8_t* input, uint32_t inputSize,
                      uint8_t* output, uint32_t* outputSize);
    int (*reset)(DecoderHandle handle);
    int (*destroy)(DecoderHandle handle);
    // MSZIP is given the whole output buffer and says what it produced; the
    // others are asked for exactly the block's uncompressed size.
    bool fillsCapacity;
};

namespace {

// The decoders' own query and create, given the parameters they take.
int QueryMszip(const CodecParameters&, uint32_t* maxBlockSize, uint32_t* bufferSize) {
    return MszipQuery(maxBlockSize, bufferSize);
}
int CreateMszip(const CodecParameters&, uint32_t* maxBlockSize, uint32_t* bufferSize,
                const DecoderServices& services, DecoderHandle* handle) {
    return MszipCreate(maxBlockSize, bufferSize, services, handle);
}
int QueryQuantum(const CodecParameters& parameters, uint32_t* maxBlockSize, uint32_t* bufferSize) {
    return QuantumQuery(maxBlockSize, parameters.windowBits, parameters.processorHint, bufferSize);
}
int CreateQuantum(const CodecParameters& parameters, uint32_t* maxBlockSize, uint32_t* bufferSize,
                  const DecoderServices& services, DecoderHandle* handle) {
    return QuantumCreate(maxBlockSize, parameters.windowBits, parameters.processorHint, bufferSize,
                         services, handle);
}
int QueryLzx(const CodecParameters& parameters, uint32_t* maxBlockSize, uint32_t* bufferSize) {
    return LzxQuery(maxBlockSize, 1u << parameters.windowBits, bufferSize);
}
int CreateLzx(const CodecParameters& parameters, uint32_t* maxBlockSize, uint32_t* bufferSize,
              const DecoderServices& services, DecoderHandle* handle) {
    return LzxCreate(maxBlockSize, 1u << parameters.windowBits, bufferSize, services, handle);
}

constexpr CodecOperations MSZIP_OPERATIONS = {QueryMszip, CreateMszip,  MszipDecompress,
                                              MszipReset, MszipDestroy, true};
constexpr CodecOperations QUANTUM_OPERATIONS = {QueryQuantum, CreateQuantum,  QuantumDecompress,
                                                QuantumReset, QuantumDestroy, false};
constexpr CodecOperations LZX_OPERATIONS = {QueryLzx, CreateLzx,  LzxDecompress,
                                            LzxReset, LzxDestroy, false};

int Codec(uint16_t compressionType) { return compressionType & CAB_CODEC_MASK; }

// The decoder of a codec; null for stored data, and for the codecs no
// decoder exists for.
const CodecOperations* OperationsOf(int codec) {
    switch (codec) {
        case CAB_CODEC_MSZIP:
            return &MSZIP_OPERATIONS;
        case CAB_CODEC_QUANTUM:
            return &QUANTUM_OPERATIONS;
        case CAB_CODEC_LZX:
            return &LZX_OPERATIONS;
        default:
            return nullptr;
    }
}

CodecParameters ParametersOf(const CabContext* context, uint16_t compressionType) {
    return {(compressionType & CAB_CODEC_WINDOW_MASK) >> CAB_CODEC_WINDOW_SHIFT,
            context->processorHint};
}

void FreeBuffers(CabContext* context) {
    if (context->compressedBuffer != nullptr) context->free(context->compressedBuffer);
    if (context->outputBuffer != nullptr) context->free(context->outputBuffer);
    context->compressedBuffer = nullptr;
    context->outputBuffer = nullptr;
}

DecoderServices Services(const CabContext* context) {
    return {context->alloc, context->free,  context->open, context->read,
            context->write, context->close, context->seek};
}

}  // namespace

bool DestroyDecoder(CabContext* context) {
    int result = CAB_DECODER_OK;
    if (context->codec != nullptr) {
        result = context->codec->destroy(context->decoder);
        context->decoder = nullptr;
        context->codec = nullptr;
    }
    FreeBuffers(context);
    context->codecType = CAB_CODEC_UNSET;
    if (result != CAB_DECODER_OK) return Fail(context, CAB_ERROR_DECODE);
    return true;
}

bool ResetDecoder(CabContext* context) {
    if (context->codec == nullptr) return true;
    if (context->codec->reset(context->decoder) != CAB_DECODER_OK) {
        return Fail(context, CAB_ERROR_DECODE);
    }
    return true;
}

bool SetDecoder(CabContext* context, uint16_t type) {
    const int codec = Codec(type);
    const CodecOperations* operations = OperationsOf(codec);
    // Codec 15 is the reader's own "no decoder" marker: a folder that
    // declares it has no way to be read, so it is refused like 4 to 14, also
    // by a context that has no decoder yet.
    if (codec != CAB_CODEC_NONE && operations == nullptr) {
        return Fail(context, CAB_ERROR_BAD_CODEC);
    }
    if (type == context->codecType) return true;
    if (!DestroyDecoder(context)) return false;
    context->maxBlockSize = MAX_BLOCK_SIZE;
    const CodecParameters parameters = ParametersOf(context, type);
    if (operations == nullptr) {
        context->compressedBufferSize = MAX_BLOCK_SIZE;
    } else {
        uint32_t maxBlock = context->maxBlockSize;
        if (operations->query(parameters, &maxBlock, &context->compressedBufferSize) !=
            CAB_DECODER_OK) {
            return Fail(context, CAB_ERROR_DECODE);
        }
    }
    context->compressedBuffer =
        static_cast<uint8_t*>(context->alloc(context->compressedBufferSize));
    if (context->compressedBuffer == nullptr) return Fail(context, CAB_ERROR_NO_MEMORY);
    const uint32_t outputSize = operations == nullptr ? STORED_RUN_SIZE : MAX_BLOCK_SIZE;
    context->outputBuffer = static_cast<uint8_t*>(context->alloc(outputSize));
    if (context->outputBuffer == nullptr) {
        FreeBuffers(context);
        return Fail(context, CAB_ERROR_NO_MEMORY);
    }
    if (operations != nullptr) {
        uint32_t maxBlock = context->maxBlockSize;
        uint32_t bufferSize = context->compressedBufferSize;
        context->decoder = nullptr;
        const int result = operations->create(parameters, &maxBlock, &bufferSize, Services(context),
                                              &context->decoder);
        if (result != CAB_DECODER_OK) {
            context->decoder = nullptr;
            FreeBuffers(context);
            return Fail(context,
                        result == CAB_DECODER_NO_MEMORY ? CAB_ERROR_NO_MEMORY : CAB_ERROR_DECODE);
        }
    }
    context->codec = operations;
    context->codecType = type;
    return true;
}

bool DecodeBlock(CabContext* context, uint32_t compressedSize, uint32_t uncompressedSize) {
    // No block may produce more than the output buffer holds.
    if (uncompressedSize > MAX_BLOCK_SIZE) return Fail(context, CAB_ERROR_DECODE);
    const CodecOperations* operations = context->codec;
    if (operations == nullptr) {
        if (Codec(context->codecType) != CAB_CODEC_NONE || compressedSize > MAX_BLOCK_SIZE) {
            return Fail(context, CAB_ERROR_DECODE);
        }
        std::memcpy(context->outputBuffer, context->compressedBuffer, compressedSize);
        if (compressedSize != uncompressedSize) return Fail(context, CAB_ERROR_DECODE);
        return true;
    }
    uint32_t produced = operations->fillsCapacity ? MAX_BLOCK_SIZE : uncompressedSize;
    const int result = operations->decompress(context->decoder, context->compressedBuffer,
                                              compressedSize, context->outputBuffer, &produced);
    if (result != CAB_DECODER_OK || produced != uncompressedSize) {
        return Fail(context, CAB_ERROR_DECODE);
    }
    return true;
}

}  // namespace cab
