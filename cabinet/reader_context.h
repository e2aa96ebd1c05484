// Internal to the cabinet library: the context behind the public CabContext
// handle, and the steps of the reader shared between its source files.
#pragma once

#include <cstdint>

#include "cabinet/cabinet.h"
#include "cabinet/cabinet_format.h"
#include "cabinet/decoder.h"

namespace cab {

struct CodecOperations;

inline constexpr uint16_t NO_FOLDER = 0xFFFF;
// Reserve sizes not yet fixed by a cabinet. Not 0xFFFF: that is a header
// reserve size a cabinet may declare.
inline constexpr int UNFIXED = -1;
inline constexpr uint32_t NAME_BUFFER_SIZE = CAB_NAME_BUFFER;
inline constexpr uint32_t NAME_READ_SIZE = CAB_NAME_BUFFER - 1;
// A stored folder is read in runs of up to eight blocks; its output buffer
// holds a run as read, headers and the largest block reserve included.
inline constexpr uint32_t STORED_RUN_BLOCKS = 8;
inline constexpr uint32_t MAX_BLOCK_HEADER_SIZE = BLOCK_HEADER_FIXED_SIZE + 255;
inline constexpr uint32_t STORED_RUN_SIZE =
    STORED_RUN_BLOCKS * (MAX_BLOCK_SIZE + MAX_BLOCK_HEADER_SIZE);

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Field views of the cabinet header copy.
struct HeaderView {
    const uint8_t* bytes;
    uint32_t Signature() const { return ReadLe32(bytes); }
    uint32_t CabinetSize() const { return ReadLe32(bytes + 8); }
    uint32_t FileTableOffset() const { return ReadLe32(bytes + 16); }
    uint16_t Version() const { return ReadLe16(bytes + 24); }
    uint16_t FolderCount() const { return ReadLe16(bytes + 26); }
    uint16_t FileCount() const { return ReadLe16(bytes + 28); }
    uint16_t Flags() const { return ReadLe16(bytes + 30); }
    uint16_t SetId() const { return ReadLe16(bytes + 32); }
    uint16_t CabinetIndex() const { return ReadLe16(bytes + 34); }
};

struct FileEntryView {
    const uint8_t* bytes;
    uint32_t FileSize() const { return ReadLe32(bytes); }
    uint32_t FolderOffset() const { return ReadLe32(bytes + 4); }
    uint16_t FolderIndex() const { return ReadLe16(bytes + 8); }
    uint16_t Date() const { return ReadLe16(bytes + 10); }
    uint16_t Time() const { return ReadLe16(bytes + 12); }
    uint16_t Attributes() const { return ReadLe16(bytes + 14); }
};

}  // namespace cab

struct CabContext {
    CabErrorRecord* errorRecord;
    CabFreeFn free;
    CabAllocFn alloc;
    CabOpenFn open;
    CabReadFn read;
    CabWriteFn write;
    CabCloseFn close;
    CabSeekFn seek;
    int processorHint;
    CabNotifyFn notify;
    CabDecryptFn decrypt;
    int32_t folderTableOffset;
    // Offset in the folder's uncompressed stream of the block in outputBuffer,
    // and that block's uncompressed size. Kept wide so that folders beyond
    // 4 GiB cannot wrap.
    uint64_t blockStart;
    uint32_t blockSize;
    cab::DecoderHandle decoder;
    const cab::CodecOperations* codec;  // the decoder's operations; null when there is none
    void* userData;
    uint8_t* compressedBuffer;
    uint8_t* outputBuffer;
    uint8_t* folderEntry;
    uint8_t* blockHeader;
    uint8_t* headerReserve;
    uint8_t header[cab::CABINET_HEADER_SIZE];
    uint8_t fileEntry[cab::FILE_ENTRY_FIXED_SIZE];
    int dataHandle;
    int tableHandle;
    int outputHandle;
    int currentFolder;
    uint32_t maxBlockSize;
    uint32_t compressedBufferSize;
    int continuing;
    int headerReserveSize;
    int folderEntrySize;
    int blockHeaderSize;
    uint16_t filesRemaining;
    uint16_t skippedContinuations;
    uint16_t blocksRemaining;
    uint16_t codecType;
    int lastError;  // the code most recently recorded, for the continuation loop
    char fileName[cab::NAME_BUFFER_SIZE];
    char previousCabinet[cab::NAME_BUFFER_SIZE];
    char previousDisk[cab::NAME_BUFFER_SIZE];
    char nextCabinet[cab::NAME_BUFFER_SIZE];
    char nextDisk[cab::NAME_BUFFER_SIZE];
    char cabinetPath[cab::NAME_BUFFER_SIZE];
    char cabinetFile[cab::NAME_BUFFER_SIZE];
    CabNotification notification;
    CabDecryptRequest decryptRequest;
};

namespace cab {

// Records `code` in an error record, which may be null.
void RecordError(CabErrorRecord* record, int code, int detail);
// Records `code` in the caller's error record and answers false.
bool Fail(CabContext* context, int code, int detail = 0);

// True when the read callback moved exactly `count` bytes.
bool ReadExactly(CabContext* context, int handle, void* buffer, uint32_t count);

// Copies `text` into a name buffer; false when it does not fit.
bool CopyName(char* buffer, const char* text);

// Opening (reader_open.cpp). `expected` is null for the named cabinet, else
// the setId and cabinetIndex a continuation cabinet must carry.
struct ExpectedCabinet {
    uint16_t setId;
    uint16_t cabinetIndex;
};
bool OpenCabinet(CabContext* context, const char* name, const ExpectedCabinet* expected);
bool ReadString(CabContext* context, char* buffer);
bool ReadFileEntry(CabContext* context);
void CloseCabinetHandles(CabContext* context);

// Folders and blocks (reader_folder.cpp).
// Positions dataHandle at the first block of `folderIndex` and sets its
// decoder; `continuation` when the folder carries on from the previous cabinet.
bool SeekFolder(CabContext* context, uint16_t folderIndex, bool continuation);
bool SelectFolder(CabContext* context, uint16_t folderIndex);
bool NextBlock(CabContext* context);

// Stored folders read in runs of blocks (reader_stored_run.cpp).
bool UsesStoredRuns(const CabContext* context);
// Reads the run of blocks that follows into the output buffer; *runSize is
// its length, 0 when the next block is for the block path to read.
bool ReadStoredRun(CabContext* context, uint32_t* runSize);

// Decoders (reader_decoder.cpp).
bool SetDecoder(CabContext* context, uint16_t compressionType);
bool ResetDecoder(CabContext* context);
bool DestroyDecoder(CabContext* context);
bool DecodeBlock(CabContext* context, uint32_t compressedSize, uint32_t uncompressedSize);

// Continuation into the next cabinet of a set (reader_continuation.cpp).
bool SwitchToNextCabinet(CabContext* context);

// Notifications: answers the callback's value.
int Notify(CabContext* context, int kind);

}  // namespace cab
