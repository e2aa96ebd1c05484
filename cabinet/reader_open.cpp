// Opening a cabinet: the two handles, the header, the reserves, the names of
// the neighbouring cabinets, and reading strings and file entries from the
// file table.
#include <cstring>

#include "cabinet/reader_context.h"

namespace cab {

namespace {

constexpr int OPEN_FLAGS = CAB_O_BINARY | CAB_O_RDONLY;
constexpr int OPEN_MODE = CAB_S_IREAD | CAB_S_IWRITE;

// Fixes an entry buffer's size on first use; later cabinets must agree.
bool FixEntryBuffer(CabContext* context, int* fixedSize, uint8_t** buffer, int size) {
    if (*buffer == nullptr) {
        *buffer = static_cast<uint8_t*>(context->alloc(static_cast<uint32_t>(size)));
        if (*buffer == nullptr) return Fail(context, CAB_ERROR_NO_MEMORY);
        *fixedSize = size;
        return true;
    }
    if (*fixedSize != size) return Fail(context, CAB_ERROR_RESERVE_MISMATCH);
    return true;
}

bool ReadReserves(CabContext* context) {
    int headerReserve = 0;
    int folderReserve = 0;
    int blockReserve = 0;
    if (HeaderView{context->header}.Flags() & HEADER_FLAG_RESERVE) {
        uint8_t descriptor[4];
        if (!ReadExactly(context, context->tableHandle, descriptor, 4)) {
            return Fail(context, CAB_ERROR_NOT_CABINET);
        }
        headerReserve = ReadLe16(descriptor);
        folderReserve = descriptor[2];
        blockReserve = descriptor[3];
    }
    if (context->headerReserveSize == UNFIXED) {
        if (headerReserve != 0) {
            context->headerReserve =
                static_cast<uint8_t*>(context->alloc(static_cast<uint32_t>(headerReserve)));
            if (context->headerReserve == nullptr) return Fail(context, CAB_ERROR_NO_MEMORY);
        }
        context->headerReserveSize = headerReserve;
    } else if (context->headerReserveSize != headerReserve) {
        // Reading the fixed number of bytes from a cabinet that declares
        // another size would misplace every following structure.
        return Fail(context, CAB_ERROR_RESERVE_MISMATCH);
    }
    if (context->headerReserveSize != 0 &&
        !ReadExactly(context, context->tableHandle, context->headerReserve,
                     static_cast<uint32_t>(context->headerReserveSize))) {
        return Fail(context, CAB_ERROR_NOT_CABINET);
    }
    if (!FixEntryBuffer(context, &context->folderEntrySize, &context->folderEntry,
                        FOLDER_ENTRY_FIXED_SIZE + folderReserve)) {
        return false;
    }
    return FixEntryBuffer(context, &context->blockHeaderSize, &context->blockHeader,
                          BLOCK_HEADER_FIXED_SIZE + blockReserve);
}

// A neighbour's cabinet and disk name when the header says they follow;
// both empty otherwise.
bool ReadNamePair(CabContext* context, bool present, char* cabinet, char* disk) {
    if (present) return ReadString(context, cabinet) && ReadString(context, disk);
    cabinet[0] = '\0';
    disk[0] = '\0';
    return true;
}

bool ReadNeighbourNames(CabContext* context) {
    const uint16_t flags = HeaderView{context->header}.Flags();
    return ReadNamePair(context, flags & HEADER_FLAG_PREVIOUS, context->previousCabinet,
                        context->previousDisk) &&
           ReadNamePair(context, flags & HEADER_FLAG_NEXT, context->nextCabinet, context->nextDisk);
}

}  // namespace

void CloseCabinetHandles(CabContext* context) {
    if (context->dataHandle != -1) context->close(context->dataHandle);
    if (context->tableHandle != -1) context->close(context->tableHandle);
    context->dataHandle = -1;
    context->tableHandle = -1;
}

bool ReadString(CabContext* context, char* buffer) {
    const long start = context->seek(context->tableHandle, 0, CAB_SEEK_CUR);
    if (start < 0) return Fail(context, CAB_ERROR_CORRUPT);
    const int got = context->read(context->tableHandle, buffer, NAME_READ_SIZE);
    if (got <= 0) return Fail(context, CAB_ERROR_CORRUPT);
    // Only the bytes actually read belong to the file: look for the
    // terminator among them.
    const size_t limit =
        got < static_cast<int>(NAME_READ_SIZE) ? static_cast<size_t>(got) : NAME_READ_SIZE;
    const void* end = std::memchr(buffer, '\0', limit);
    if (end == nullptr) {
        buffer[0] = '\0';
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - buffer);
    buffer[NAME_READ_SIZE] = '\0';
    if (context->seek(context->tableHandle, start + static_cast<long>(length) + 1, CAB_SEEK_SET) <
        0) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    return true;
}

bool ReadFileEntry(CabContext* context) {
    if (!ReadExactly(context, context->tableHandle, context->fileEntry, FILE_ENTRY_FIXED_SIZE)) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    return ReadString(context, context->fileName);
}

bool OpenCabinet(CabContext* context, const char* name, const ExpectedCabinet* expected) {
    const size_t pathLength = std::strlen(context->cabinetPath);
    const size_t nameLength = std::strlen(name);
    if (pathLength + nameLength >= NAME_BUFFER_SIZE) return Fail(context, CAB_ERROR_OPEN_FAILED);
    // `name` may be one of the context's own buffers: move, not copy.
    std::memmove(context->cabinetFile + pathLength, name, nameLength + 1);
    std::memcpy(context->cabinetFile, context->cabinetPath, pathLength);

    context->tableHandle = context->open(context->cabinetFile, OPEN_FLAGS, OPEN_MODE);
    if (context->tableHandle == -1) return Fail(context, CAB_ERROR_OPEN_FAILED);
    context->dataHandle = context->open(context->cabinetFile, OPEN_FLAGS, OPEN_MODE);
    if (context->dataHandle == -1) return Fail(context, CAB_ERROR_OPEN_FAILED);

    uint8_t header[CABINET_HEADER_SIZE];
    if (!ReadExactly(context, context->tableHandle, header, CABINET_HEADER_SIZE)) {
        return Fail(context, CAB_ERROR_NOT_CABINET);
    }
    const HeaderView view{header};
    if (view.Signature() != CABINET_SIGNATURE) return Fail(context, CAB_ERROR_NOT_CABINET);
    if (view.Version() != CABINET_VERSION)
        return Fail(context, CAB_ERROR_BAD_VERSION, view.Version());
    if (expected != nullptr &&
        (view.SetId() != expected->setId || view.CabinetIndex() != expected->cabinetIndex)) {
        return Fail(context, CAB_ERROR_WRONG_CABINET);
    }
    std::memcpy(context->header, header, CABINET_HEADER_SIZE);

    if (!ReadReserves(context)) return false;
    if (!ReadNeighbourNames(context)) return false;

    const long folderTable = context->seek(context->tableHandle, 0, CAB_SEEK_CUR);
    if (folderTable < 0 || folderTable > INT32_MAX) return Fail(context, CAB_ERROR_CORRUPT);
    context->folderTableOffset = static_cast<int32_t>(folderTable);
    if (context->seek(context->tableHandle, static_cast<long>(view.FileTableOffset()),
                      CAB_SEEK_SET) < 0) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    context->filesRemaining = view.FileCount();

    CabNotification& n = context->notification;
    n.text1 = context->nextCabinet;
    n.text2 = context->nextDisk;
    n.text3 = context->cabinetPath;
    n.userData = context->userData;
    n.setId = view.SetId();
    n.cabinetIndex = view.CabinetIndex();
    if (Notify(context, CAB_NOTIFY_CABINET_OPENED) == -1) return Fail(context, CAB_ERROR_ABORTED);
    // The callback may have written into the name buffers: keep them ended.
    context->nextCabinet[NAME_READ_SIZE] = '\0';
    context->nextDisk[NAME_READ_SIZE] = '\0';
    context->cabinetPath[NAME_READ_SIZE] = '\0';

    if (context->decrypt != nullptr) {
        CabDecryptRequest& r = context->decryptRequest;
        r.kind = CAB_DECRYPT_NEW_CABINET;
        r.userData = context->userData;
        r.headerReserve = context->headerReserve;
        r.headerReserveSize = static_cast<uint16_t>(context->headerReserveSize);
        r.setId = view.SetId();
        r.cabinetIndex = view.CabinetIndex();
        if (context->decrypt(&r) == -1) return Fail(context, CAB_ERROR_ABORTED);
    }
    return true;
}

}  // namespace cab
