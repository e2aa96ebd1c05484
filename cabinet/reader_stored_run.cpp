// Stored folders in bulk: instead of two reads and one write per 32 KB data
// block, one read takes in a run of consecutive blocks, their headers are
// checked and squeezed out in place, and the run's bytes are served to the
// file writes as one large block. Anything out of the ordinary (a split
// block, a bad size or checksum, the end of the cabinet's blocks) ends the
// run before that block, so the block-by-block path meets it exactly as it
// would have without the run.
#include <cstring>

#include "cabinet/checksum.h"
#include "cabinet/reader_context.h"

namespace cab {

bool UsesStoredRuns(const CabContext* context) {
    return (context->codecType & CAB_CODEC_MASK) == CAB_CODEC_NONE && context->decrypt == nullptr;
}

bool ReadStoredRun(CabContext* context, uint32_t* runSize) {
    *runSize = 0;
    uint8_t* const buffer = context->outputBuffer;
    const uint32_t headerSize = static_cast<uint32_t>(context->blockHeaderSize);
    // Sized for full blocks, so that a run of them ends on a block boundary
    // and nothing needs to be given back. Near the end of the cabinet the
    // read asks for more than the file holds; the short count is simply
    // what there is, and every block is checked against it below.
    const int got = context->read(context->dataHandle, buffer,
                                  STORED_RUN_BLOCKS * (headerSize + MAX_BLOCK_SIZE));
    if (got < 0) return Fail(context, CAB_ERROR_CORRUPT);
    const uint32_t available = static_cast<uint32_t>(got);

    uint32_t consumed = 0;  // raw bytes taken: headers and data
    uint32_t kept = 0;      // data bytes moved to the front of the buffer
    // Each block is checked whole (header, size, checksum) before any of it
    // is kept, so a run always ends on a block the block path can read again
    // from its header.
    while (context->blocksRemaining > 0 && available - consumed >= headerSize) {
        const uint8_t* header = buffer + consumed;
        const uint32_t checksum = ReadLe32(header);
        const uint32_t dataSize = ReadLe16(header + 4);
        const uint32_t uncompressedSize = ReadLe16(header + 6);
        // Sizes a plain block cannot have, including the first part of a
        // split block (no uncompressed size) and blocks larger than the
        // largest block: left to the block path, which refuses them.
        if (uncompressedSize == 0 || uncompressedSize != dataSize || dataSize > MAX_BLOCK_SIZE ||
            available - consumed - headerSize < dataSize) {
            break;
        }
        const uint8_t* data = header + headerSize;
        if (checksum != 0 &&
            BlockChecksum(data, dataSize, header + 4, headerSize - 4) != checksum) {
            break;
        }
        // Blocks only move towards the front, and the next header lies
        // beyond this block's data, so nothing unread is overwritten.
        std::memmove(buffer + kept, data, dataSize);
        kept += dataSize;
        consumed += headerSize + dataSize;
        context->blocksRemaining -= 1;
    }
    // Give back what the run did not take, for the block path or the next run.
    const long unread = static_cast<long>(available - consumed);
    if (unread != 0 && context->seek(context->dataHandle, -unread, CAB_SEEK_CUR) < 0) {
        return Fail(context, CAB_ERROR_CORRUPT);
    }
    *runSize = kept;
    return true;
}

}  // namespace cab
