// The context's life: creation, destruction, error recording, and the
// cabinet test that needs no walk.
#include "cabinet/reader_context.h"

#include <cstring>

namespace cab {

void RecordError(CabErrorRecord* record, int code, int detail) {
    if (record == nullptr) return;
    record->code = code;
    record->detail = detail;
    record->present = 1;
}

bool Fail(CabContext* context, int code, int detail) {
    context->lastError = code;
    RecordError(context->errorRecord, code, detail);
    return false;
}

bool ReadExactly(CabContext* context, int handle, void* buffer, uint32_t count) {
    return context->read(handle, buffer, count) == static_cast<int>(count);
}

bool CopyName(char* buffer, const char* text) {
    const size_t length = std::strlen(text);
    if (length >= NAME_BUFFER_SIZE) return false;
    std::memmove(buffer, text, length + 1);
    return true;
}

int Notify(CabContext* context, int kind) { return context->notify(kind, &context->notification); }

}  // namespace cab

using namespace cab;

extern "C" CabContext* CabCreate(CabAllocFn alloc, CabFreeFn free, CabOpenFn open, CabReadFn read,
                                 CabWriteFn write, CabCloseFn close, CabSeekFn seek,
                                 int processorHint, CabErrorRecord* errorRecord) {
    auto* context = static_cast<CabContext*>(alloc(sizeof(CabContext)));
    if (context == nullptr) {
        RecordError(errorRecord, CAB_ERROR_NO_MEMORY, 0);
        return nullptr;
    }
    std::memset(context, 0, sizeof(CabContext));
    context->errorRecord = errorRecord;
    context->free = free;
    context->alloc = alloc;
    context->open = open;
    context->read = read;
    context->write = write;
    context->close = close;
    context->seek = seek;
    context->processorHint = processorHint;
    context->codecType = CAB_CODEC_UNSET;
    context->headerReserveSize = context->folderEntrySize = context->blockHeaderSize = UNFIXED;
    context->dataHandle = context->tableHandle = context->outputHandle = -1;
    context->currentFolder = NO_FOLDER;
    context->maxBlockSize = MAX_BLOCK_SIZE;
    return context;
}

extern "C" int CabIsCabinet(CabContext* context, int handle, CabCabinetInfo* info) {
    uint8_t header[CABINET_HEADER_SIZE];
    if (!ReadExactly(context, handle, header, CABINET_HEADER_SIZE)) return 0;
    const HeaderView view{header};
    if (view.Signature() != CABINET_SIGNATURE) return 0;
    if (view.Version() != CABINET_VERSION) {
        Fail(context, CAB_ERROR_BAD_VERSION, view.Version());
        return 0;
    }
    info->cabinetSize = static_cast<int32_t>(view.CabinetSize());
    info->folderCount = view.FolderCount();
    info->fileCount = view.FileCount();
    info->setId = view.SetId();
    info->cabinetIndex = view.CabinetIndex();
    info->hasReserve = (view.Flags() & HEADER_FLAG_RESERVE) ? 1 : 0;
    info->hasPrevious = (view.Flags() & HEADER_FLAG_PREVIOUS) ? 1 : 0;
    info->hasNext = view.Flags() & HEADER_FLAG_NEXT;
    return 1;
}

extern "C" int CabDestroy(CabContext* context) {
    if (context == nullptr) return 1;
    DestroyDecoder(context);
    if (context->headerReserve != nullptr) context->free(context->headerReserve);
    if (context->folderEntry != nullptr) context->free(context->folderEntry);
    if (context->blockHeader != nullptr) context->free(context->blockHeader);
    CloseCabinetHandles(context);
    if (context->outputHandle != -1) {
        context->close(context->outputHandle);
        context->outputHandle = -1;
    }
    context->free(context);
    return 1;
}
