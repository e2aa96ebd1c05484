// The Quantum decoder behind the decoder interface. All decoding state lives in
// the handle, so any number of decoders may work at once, each used by one
// thread at a time.
#include <cstring>
#include <new>

#include "cabinet/decoder.h"
#include "cabinet/quantum_block_decoder.h"
#include "cabinet/quantum_paged_window.h"
#include "cabinet/quantum_window.h"

namespace cab {
namespace {

constexpr uint32_t SIGNATURE = 'Q' | ('D' << 8) | ('I' << 16) | (static_cast<uint32_t>('C') << 24);
// Windows below this size stay in memory: a scratch file would need at least
// three pages, and a window of fewer pages cannot map them consistently.
constexpr uint32_t SMALLEST_PAGED_WINDOW = QUANTUM_MIN_PAGES * QUANTUM_PAGE_SIZE;

struct QuantumHandle {
    uint32_t signature;
    DecoderServices services;
    uint32_t maxBlockSize;
    int processorHint;  // kept for the caller; it does not change the output
    int windowBits;
    QuantumMemoryWindow memory;  // data is null in paged mode
    QuantumPagedWindow* paged;   // null in memory mode
    bool pagingFailed;
    QuantumModels models;
};

QuantumHandle* FromHandle(DecoderHandle handle) {
    return CheckedHandle<QuantumHandle>(handle, SIGNATURE);
}

// The paged store as seen by the block decoder; remembers whether paging, as
// opposed to the block's data, failed.
struct PagedWindowAdapter {
    QuantumPagedWindow* paged;
    bool failed = false;
    bool PutByte(uint8_t byte) { return Note(paged->PutByte(byte)); }
    bool CopyMatch(uint32_t distance, uint32_t length, uint8_t* output) {
        return Note(paged->CopyMatch(distance, length, output));
    }
    bool Note(bool ok) {
        failed = failed || !ok;
        return ok;
    }
};

}  // namespace

int QuantumQuery(uint32_t* maxBlockSize, int windowBits, int processorHint,
                 uint32_t* compressedBufferSize) {
    (void)processorHint;
    if (windowBits < QUANTUM_MIN_WINDOW_BITS || windowBits > QUANTUM_MAX_WINDOW_BITS) {
        return CAB_DECODER_BAD_PARAMETER;
    }
    *compressedBufferSize = ClampBlockSize(maxBlockSize) + QUANTUM_INPUT_SLACK;
    return CAB_DECODER_OK;
}

int QuantumCreate(uint32_t* maxBlockSize, int windowBits, int processorHint,
                  uint32_t* compressedBufferSize, const DecoderServices& services,
                  DecoderHandle* handle) {
    *handle = nullptr;
    int result = QuantumQuery(maxBlockSize, windowBits, processorHint, compressedBufferSize);
    if (result != CAB_DECODER_OK) return result;
    if (!services.alloc || !services.free) return CAB_DECODER_NO_MEMORY;
    void* memory = services.alloc(sizeof(QuantumHandle));
    if (!memory) return CAB_DECODER_NO_MEMORY;
    auto* quantum = new (memory) QuantumHandle();
    quantum->services = services;
    quantum->maxBlockSize = *maxBlockSize;
    quantum->processorHint = processorHint;
    quantum->windowBits = windowBits;
    const uint32_t windowSize = 1u << windowBits;
    quantum->memory.size = windowSize;
    quantum->memory.data = static_cast<uint8_t*>(services.alloc(windowSize));
    if (quantum->memory.data) {
        // Matches reaching before the first byte of a folder read zeros, not
        // whatever the memory held.
        std::memset(quantum->memory.data, 0, windowSize);
    } else if (windowSize >= SMALLEST_PAGED_WINDOW) {
        quantum->paged = QuantumPagedWindow::Create(services, windowSize);
    }
    if (!quantum->memory.data && !quantum->paged) {
        services.free(quantum);
        return CAB_DECODER_NO_MEMORY;
    }
    QuantumModelsInit(quantum->models, windowBits);
    quantum->signature = SIGNATURE;
    *handle = quantum;
    return CAB_DECODER_OK;
}

int QuantumDecompress(DecoderHandle handle, const uint8_t* input, uint32_t inputSize,
                      uint8_t* output, uint32_t* outputSize) {
    QuantumHandle* quantum = FromHandle(handle);
    if (!quantum) return CAB_DECODER_BAD_HANDLE;
    const uint32_t size = *outputSize;
    if (size > quantum->maxBlockSize) return CAB_DECODER_BAD_SIZE;
    if (quantum->pagingFailed) return CAB_DECODER_DATA_ERROR;
    bool ok;
    if (quantum->paged) {
        PagedWindowAdapter window{quantum->paged};
        ok = QuantumDecodeBlock(quantum->models, window, input, inputSize, output, size);
        // A failed page transfer leaves the window unusable until the next reset.
        quantum->pagingFailed = window.failed;
    } else {
        ok = QuantumDecodeBlock(quantum->models, quantum->memory, input, inputSize, output, size);
    }
    return ok ? CAB_DECODER_OK : CAB_DECODER_DATA_ERROR;
}

int QuantumReset(DecoderHandle handle) {
    QuantumHandle* quantum = FromHandle(handle);
    if (!quantum) return CAB_DECODER_BAD_HANDLE;
    quantum->memory.writePosition = 0;
    quantum->pagingFailed = false;
    if (quantum->paged && !quantum->paged->Reset()) quantum->pagingFailed = true;
    QuantumModelsInit(quantum->models, quantum->windowBits);
    return CAB_DECODER_OK;
}

int QuantumDestroy(DecoderHandle handle) {
    QuantumHandle* quantum = FromHandle(handle);
    if (!quantum) return CAB_DECODER_BAD_HANDLE;
    const DecoderServices services = quantum->services;
    if (quantum->memory.data) services.free(quantum->memory.data);
    QuantumPagedWindow::Destroy(quantum->paged);
    ReleaseHandle(quantum, services.free);
    return CAB_DECODER_OK;
}

}  // namespace cab
