/* Cabinet library: public C interface.
 *
 * The library reads cabinet files ("MSCF", format 1.3) and hands out the files
 * stored in them. It performs no I/O or allocation of its own: every allocation,
 * file operation and decision about what to write where goes through callbacks
 * supplied by the caller. A context serves one thread at a time. */
#ifndef PELMO_CABINET_H
#define PELMO_CABINET_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Notification kinds passed to CabNotifyFn. */
#define CAB_NOTIFY_CABINET_OPENED 0
#define CAB_NOTIFY_CONTINUED_FILE 1
#define CAB_NOTIFY_FILE_START 2
#define CAB_NOTIFY_FILE_DONE 3
#define CAB_NOTIFY_NEED_CABINET 4
#define CAB_NOTIFY_ENUMERATE 5

/* Error codes recorded in CabErrorRecord.code. */
#define CAB_ERROR_NONE 0
#define CAB_ERROR_OPEN_FAILED 1
#define CAB_ERROR_NOT_CABINET 2
#define CAB_ERROR_BAD_VERSION 3
#define CAB_ERROR_CORRUPT 4
#define CAB_ERROR_NO_MEMORY 5
#define CAB_ERROR_BAD_CODEC 6
#define CAB_ERROR_DECODE 7
#define CAB_ERROR_OUTPUT 8
#define CAB_ERROR_RESERVE_MISMATCH 9
#define CAB_ERROR_WRONG_CABINET 10
#define CAB_ERROR_ABORTED 11

/* Result codes of the decoder operations. */
#define CAB_DECODER_OK 0
#define CAB_DECODER_NO_MEMORY 1
#define CAB_DECODER_BAD_HANDLE 2
#define CAB_DECODER_BAD_SIZE 3
#define CAB_DECODER_DATA_ERROR 4
#define CAB_DECODER_BAD_PARAMETER 5

/* Low four bits of a folder's compression type. Bits 8 to 12 hold the window
 * exponent of Quantum and LZX. */
#define CAB_CODEC_NONE 0
#define CAB_CODEC_MSZIP 1
#define CAB_CODEC_QUANTUM 2
#define CAB_CODEC_LZX 3
#define CAB_CODEC_UNSET 15
#define CAB_CODEC_MASK 0x000F
#define CAB_CODEC_WINDOW_MASK 0x1F00
#define CAB_CODEC_WINDOW_SHIFT 8

/* Kinds of CabDecryptRequest. */
#define CAB_DECRYPT_NEW_CABINET 0
#define CAB_DECRYPT_NEW_FOLDER 1
#define CAB_DECRYPT_DATA_BLOCK 2

/* File attribute bits as stored in file entries. */
#define CAB_ATTR_READONLY 0x01
#define CAB_ATTR_HIDDEN 0x02
#define CAB_ATTR_SYSTEM 0x04
#define CAB_ATTR_ARCHIVE 0x20
#define CAB_ATTR_EXEC 0x40
#define CAB_ATTR_NAME_IS_UTF 0x80

/* Flag words passed to CabOpenFn, in the C runtime's _open encoding. */
#define CAB_O_RDONLY 0x0000
#define CAB_O_WRONLY 0x0001
#define CAB_O_RDWR 0x0002
#define CAB_O_APPEND 0x0008
#define CAB_O_CREAT 0x0100
#define CAB_O_TRUNC 0x0200
#define CAB_O_EXCL 0x0400
#define CAB_O_TEXT 0x4000
#define CAB_O_BINARY 0x8000
#define CAB_O_SEQUENTIAL 0x0020
/* Permission bits passed as mode. */
#define CAB_S_IREAD 0x0100
#define CAB_S_IWRITE 0x0080

/* Seek origins. */
#define CAB_SEEK_SET 0
#define CAB_SEEK_CUR 1
#define CAB_SEEK_END 2

/* Length of every name buffer, terminator included. */
#define CAB_NAME_BUFFER 257

typedef struct CabContext CabContext;

typedef struct CabErrorRecord {
    int code;    /* one of CAB_ERROR_* */
    int detail;  /* the version found for CAB_ERROR_BAD_VERSION, otherwise 0 */
    int present; /* set to 1 whenever an error is recorded; never cleared */
} CabErrorRecord;

typedef struct CabCabinetInfo {
    int32_t cabinetSize;
    uint16_t folderCount;
    uint16_t fileCount;
    uint16_t setId;
    uint16_t cabinetIndex;
    int hasReserve;  /* 1 or 0 */
    int hasPrevious; /* 1 or 0 */
    int hasNext;     /* the raw flag bit: 2 or 0 */
} CabCabinetInfo;

typedef struct CabNotification {
    int32_t size;
    char* text1;
    char* text2;
    char* text3;
    void* userData;
    int fileHandle;
    uint16_t date;
    uint16_t time;
    uint16_t attributes;
    uint16_t setId;
    uint16_t cabinetIndex;
    uint16_t folderIndex;
    int error;
} CabNotification;

typedef struct CabDecryptRequest {
    int kind; /* CAB_DECRYPT_* */
    void* userData;
    /* CAB_DECRYPT_NEW_CABINET */
    void* headerReserve;
    uint16_t headerReserveSize;
    uint16_t setId;
    int32_t cabinetIndex;
    /* CAB_DECRYPT_NEW_FOLDER */
    void* folderReserve; /* null when the folder reserve size is 0 */
    uint16_t folderReserveSize;
    uint16_t folderIndex;
    /* CAB_DECRYPT_DATA_BLOCK */
    void* blockReserve; /* null when the block reserve size is 0 */
    uint16_t blockReserveSize;
    void* data;        /* the block's bytes in the compressed buffer */
    uint16_t dataSize; /* compressed size; combined size for a split block */
    int isSplit;
    uint16_t partOffset;
} CabDecryptRequest;

/* What the library asks of the file callbacks:
 * - A cabinet is opened twice (flags CAB_O_BINARY, mode CAB_S_IREAD |
 *   CAB_S_IWRITE): one handle reads the header, names and file table, the
 *   other folder entries and data blocks.
 * - Reads may ask for more than the file holds: a short count is an answer,
 *   not a failure, where a name or a run of stored blocks is read. Stored
 *   folders are read in runs of up to eight blocks, so one read may ask for
 *   up to 264 KiB beyond the block the walk stands at.
 * - Seeks use CAB_SEEK_SET with an absolute offset and CAB_SEEK_CUR: with
 *   offset 0 to ask for the position, and with a negative offset to give back
 *   the bytes of a run that the walk did not take.
 * - The Quantum decoder may open a scratch file named "*" (flags
 *   CAB_O_BINARY | CAB_O_CREAT | CAB_O_RDWR); answering -1 is always allowed.
 *
 * CAB_NOTIFY_FILE_DONE describes the file as CAB_NOTIFY_FILE_START offered
 * it: for a file that continued into a following cabinet, its name and
 * folderIndex are those of the entry in the cabinet where it began (0xFFFE,
 * say), not of its continuation entry. */
typedef void* (*CabAllocFn)(uint32_t size);
typedef void (*CabFreeFn)(void* memory);
typedef int (*CabOpenFn)(const char* path, int flags, int mode);
/* Read and write answer the number of bytes moved, or -1 on failure. */
typedef int (*CabReadFn)(int handle, void* buffer, uint32_t count);
typedef int (*CabWriteFn)(int handle, const void* buffer, uint32_t count);
typedef int (*CabCloseFn)(int handle);
/* Seek answers the new position, or -1 on failure. */
typedef long (*CabSeekFn)(int handle, long offset, int origin);
typedef int (*CabNotifyFn)(int kind, CabNotification* notification);
typedef int (*CabDecryptFn)(CabDecryptRequest* request);

CabContext* CabCreate(CabAllocFn alloc, CabFreeFn free, CabOpenFn open, CabReadFn read,
                      CabWriteFn write, CabCloseFn close, CabSeekFn seek, int processorHint,
                      CabErrorRecord* errorRecord);

int CabIsCabinet(CabContext* context, int handle, CabCabinetInfo* info);

int CabCopy(CabContext* context, const char* cabinetName, const char* cabinetPath, int flags,
            CabNotifyFn notify, CabDecryptFn decrypt, void* userData);

int CabDestroy(CabContext* context);

#ifdef __cplusplus
}
#endif

#endif
