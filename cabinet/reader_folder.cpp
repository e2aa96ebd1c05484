// Folders and data blocks: selecting a file's folder, positioning at a
// folder's first block, reading (possibly split) data blocks with their
// checksums, and decoding them into the output buffer.
#include "cabinet/checksum.h"
#include "cabinet/reader_context.h"

namespace cab {

namespace {

// Reads one data block from dataHandle into compressedBuffer + partOffset.
// Leaves the combined compressed size in *compressedSize and the block's
// uncompressedSize in *uncompressedSize.
bool ReadDataBlock(CabContext* context, uint32_t partOffset, uint32_t* compressedSize,
                   uint32_t* uncompressedSize) {
    uint8_t* header = context->blockHeader;
    const uint32_t headerSize = static_cast<uint32_t>(context->blockHeaderSize);
    if (!ReadExactly(context, context->dataHandle, header, headerSize)) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    const uint32_t checksum = ReadLe32(header);
    const uint32_t partSize = ReadLe16(header + 4);
    *uncompressedSize = ReadLe16(header + 6);
    if (partOffset + partSize > context->compressedBufferSize) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    uint8_t* data = context->compressedBuffer + partOffset;
    if (partSize != 0 && !ReadExactly(context, context->dataHandle, data, partSize)) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    if (checksum != 0 && BlockChecksum(data, partSize, header + 4, headerSize - 4) != checksum) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    *compressedSize = partOffset + partSize;
    if (context->decrypt != nullptr) {
        CabDecryptRequest& r = context->decryptRequest;
        r.kind = CAB_DECRYPT_DATA_BLOCK;
        r.userData = context->userData;
        r.blockReserve =
            headerSize > BLOCK_HEADER_FIXED_SIZE ? header + BLOCK_HEADER_FIXED_SIZE : nullptr;
        r.blockReserveSize = static_cast<uint16_t>(headerSize - BLOCK_HEADER_FIXED_SIZE);
        r.data = context->compressedBuffer;
        r.dataSize = static_cast<uint16_t>(*compressedSize);
        r.isSplit = (partOffset != 0 || *uncompressedSize == 0) ? 1 : 0;
        r.partOffset = static_cast<uint16_t>(partOffset);
        if (context->decrypt(&r) == -1) return Fail(context, CAB_ERROR_ABORTED);
    }
    return true;
}

}  // namespace

bool SeekFolder(CabContext* context, uint16_t folderIndex, bool continuation) {
    // A file may only name a folder the cabinet has.
    if (folderIndex >= HeaderView{context->header}.FolderCount()) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    context->currentFolder = folderIndex;
    const long entry = static_cast<long>(context->folderTableOffset) +
                       static_cast<long>(folderIndex) * context->folderEntrySize;
    if (context->seek(context->dataHandle, entry, CAB_SEEK_SET) < 0 ||
        !ReadExactly(context, context->dataHandle, context->folderEntry,
                     static_cast<uint32_t>(context->folderEntrySize))) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    const uint8_t* folder = context->folderEntry;
    if (context->seek(context->dataHandle, static_cast<long>(ReadLe32(folder)), CAB_SEEK_SET) < 0) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    context->blocksRemaining = ReadLe16(folder + 4);
    const uint16_t compressionType = ReadLe16(folder + 6);
    // A folder continued from the previous cabinet keeps its decoder, its
    // history and the first part of a split block: it must be the same codec.
    if (continuation && compressionType != context->codecType) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    if (!SetDecoder(context, compressionType)) return false;
    if (context->decrypt != nullptr) {
        CabDecryptRequest& r = context->decryptRequest;
        r.kind = CAB_DECRYPT_NEW_FOLDER;
        r.userData = context->userData;
        const uint32_t entrySize = static_cast<uint32_t>(context->folderEntrySize);
        r.folderReserve = entrySize > FOLDER_ENTRY_FIXED_SIZE
                              ? context->folderEntry + FOLDER_ENTRY_FIXED_SIZE
                              : nullptr;
        r.folderReserveSize = static_cast<uint16_t>(entrySize - FOLDER_ENTRY_FIXED_SIZE);
        r.folderIndex = folderIndex;
        if (context->decrypt(&r) == -1) return Fail(context, CAB_ERROR_ABORTED);
    }
    return true;
}

bool SelectFolder(CabContext* context, uint16_t folderIndex) {
    if (context->continuing) return true;
    const uint16_t folderCount = HeaderView{context->header}.FolderCount();
    if (folderIndex == CONTINUED_TO_NEXT || folderIndex == CONTINUED_BOTH) {
        // The last folder; a cabinet without folders has none, and its
        // count minus one would read as the "no folder" marker.
        if (folderCount == 0) return Fail(context, CAB_ERROR_CORRUPT);
        folderIndex = static_cast<uint16_t>(folderCount - 1);
    }
    // A file may only name a folder the cabinet has, whatever was selected
    // before.
    if (folderIndex >= folderCount) return Fail(context, CAB_ERROR_CORRUPT);
    if (folderIndex == context->currentFolder) return true;
    if (!ResetDecoder(context)) return false;
    if (!SeekFolder(context, folderIndex, false)) return false;
    context->blockSize = 0;
    if (!NextBlock(context)) return false;
    context->blockStart = 0;
    return true;
}

bool NextBlock(CabContext* context) {
    context->blockStart += context->blockSize;
    context->blockSize = 0;
    if (context->blocksRemaining == 0) {
        if (!SwitchToNextCabinet(context)) return false;
        if (context->blocksRemaining == 0) return Fail(context, CAB_ERROR_CORRUPT);
    }
    if (UsesStoredRuns(context)) {
        uint32_t runSize = 0;
        if (!ReadStoredRun(context, &runSize)) return false;
        if (runSize != 0) {
            context->blockSize = runSize;
            return true;
        }
    }
    context->blocksRemaining -= 1;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    if (!ReadDataBlock(context, 0, &compressedSize, &uncompressedSize)) return false;
    if (uncompressedSize == 0) {
        // A split block: its remaining bytes open the folder in the next
        // cabinet, and the combined block carries the second part's size.
        if (!SwitchToNextCabinet(context)) return false;
        if (context->blocksRemaining == 0) return Fail(context, CAB_ERROR_CORRUPT);
        if (!ReadDataBlock(context, compressedSize, &compressedSize, &uncompressedSize)) {
            return false;
        }
        context->blocksRemaining -= 1;
    }
    if (!DecodeBlock(context, compressedSize, uncompressedSize)) return false;
    context->blockSize = uncompressedSize;
    return true;
}

}  // namespace cab
