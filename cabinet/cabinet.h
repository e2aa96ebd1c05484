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

/* The record passed to CabNotifyFn. Each kind fills only the fields listed;
 * the others hold whatever an earlier notification left there. The text
 * fields point into the context's 257-byte name buffers.
 *
 * CAB_NOTIFY_CABINET_OPENED  a cabinet's header and names have been read.
 *   text1 next cabinet name, text2 next disk name (both "" when there is no
 *   next cabinet), text3 the cabinet path, userData, setId, cabinetIndex.
 *   -1 aborts; any other answer continues.
 * CAB_NOTIFY_CONTINUED_FILE  a file entry that continues from the previous
 *   cabinet (folderIndex 0xFFFD or 0xFFFF), met outside a continuation.
 *   size file size, text1 file name, text2 previous cabinet name, text3
 *   previous disk name, date, time, attributes, userData, folderIndex.
 *   -1 aborts; any other answer skips the entry.
 * CAB_NOTIFY_FILE_START  any other file entry (and, while a continuation is
 *   being finished, the continued entries). Fields as CONTINUED_FILE.
 *   An open handle (anything but 0 and -1): the file's bytes are written to
 *   it with CabWriteFn; 0 skips the file; -1 aborts.
 * CAB_NOTIFY_FILE_DONE  the file's last byte has been written. text1 file
 *   name, fileHandle the handle FILE_START gave, date, time, attributes with
 *   CAB_ATTR_EXEC cleared, userData, folderIndex, and size 1 when the entry
 *   carried CAB_ATTR_EXEC, else 0. With any answer but -1 the handle is the
 *   callback's: it closes it and applies date, time and attributes. Nonzero
 *   means success; 0 reports an output failure (CAB_ERROR_OUTPUT); -1 aborts,
 *   and the library closes the handle itself. If writing fails before this
 *   notification, the library closes the handle and sends none.
 *   For a file that continued into a following cabinet, the name and
 *   folderIndex are those of the entry in the cabinet where it began (0xFFFE,
 *   say), not of its continuation entry.
 * CAB_NOTIFY_NEED_CABINET  the file being written continues in the next
 *   cabinet of the set. text1 next cabinet name, text2 next disk name, text3
 *   the cabinet path, userData, setId of the current cabinet, cabinetIndex
 *   of the current cabinet plus 1, error 0 the first time and the failed
 *   attempt's CAB_ERROR_* code on each repeat. The callback may rewrite
 *   text1 and text3 in place (256 characters at most); the library then
 *   opens text3 followed by text1, and asks again after every failed
 *   attempt. -1 aborts; any other answer makes the attempt.
 * CAB_NOTIFY_ENUMERATE  before the first file entry and each time the count
 *   of entries left reaches 0. size is the file-table handle's position and
 *   folderIndex the number of entries left; setId, userData. -1 aborts.
 *   Otherwise folderIndex is taken back as the number of entries to read (0
 *   ends the walk), and when it is nonzero and size was changed, the table
 *   is read on from position size.
 *
 * -1 always aborts the walk with CAB_ERROR_ABORTED. */
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

/* The callbacks. Every one runs on the calling thread, inside an entry
 * point. What the library asks of them:
 * - Alloc answers null when out of memory; the library frees everything it
 *   allocated with free, and never frees memory it did not allocate.
 * - A cabinet is opened twice (flags CAB_O_BINARY, mode CAB_S_IREAD |
 *   CAB_S_IWRITE): one handle reads the header, names and file table, the
 *   other folder entries and data blocks. Open answers -1 on failure.
 * - Reads answer the count moved, or -1. A count other than the one asked for
 *   is a failure, except where a name or a run of stored blocks is read:
 *   there reads may ask for more than the file holds, and a short count is an
 *   answer. Stored folders are read in runs of up to eight blocks, so one
 *   read may ask for up to 264 KiB beyond the block the walk stands at.
 * - Writes must move the whole count; anything else is CAB_ERROR_OUTPUT.
 * - Close answers 0 on success.
 * - Seeks answer the new position, or -1. The library uses CAB_SEEK_SET with
 *   an absolute offset, and CAB_SEEK_CUR with offset 0 to ask for the
 *   position and with a negative offset to give back the bytes of a stored
 *   run that the walk did not take.
 * - The Quantum decoder may open a scratch file named "*" (flags
 *   CAB_O_BINARY | CAB_O_CREAT | CAB_O_RDWR) for a window it cannot hold in
 *   memory; answering -1 is always allowed.
 * - Notify: see CabNotification. Decrypt may change the block's bytes in
 *   place; -1 aborts with CAB_ERROR_ABORTED, anything else continues. */
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

/* Makes a context. The seven file and memory callbacks must all be given;
 * they are kept for the context's life, and the context itself is allocated
 * with alloc. processorHint is handed to the Quantum decoder and has no effect
 * on the output. errorRecord (may be null) is kept by pointer for the
 * context's life: every later failure is recorded there (code, detail,
 * present = 1); the library never clears it.
 * Answers the context, or null with CAB_ERROR_NO_MEMORY recorded. */
CabContext* CabCreate(CabAllocFn alloc, CabFreeFn free, CabOpenFn open, CabReadFn read,
                      CabWriteFn write, CabCloseFn close, CabSeekFn seek, int processorHint,
                      CabErrorRecord* errorRecord);

/* Reads 36 bytes from handle's current position (the library does not seek
 * before or after) and tells whether they begin a cabinet. The handle stays
 * the caller's. Answers 1 and fills *info for a cabinet. Answers 0 and
 * records nothing for a short read or another signature; answers 0 and
 * records CAB_ERROR_BAD_VERSION, with the version found as detail, for a
 * cabinet of another format version. */
int CabIsCabinet(CabContext* context, int handle, CabCabinetInfo* info);

/* Walks the cabinet cabinetPath followed by cabinetName (joined as they
 * stand, so cabinetPath is "" or ends with a separator; together at most 256
 * characters) and offers its files to notify, in file-table order. A file
 * that continues into following cabinets is finished there (see
 * CAB_NOTIFY_NEED_CABINET); the walk then ends at the first file that begins
 * in the following cabinet, which a new CabCopy on that cabinet delivers.
 * flags is ignored (pass 0); decrypt may be null; userData is handed to
 * every notification. Both cabinet handles are closed before it returns,
 * whatever the outcome; the decoder and its buffers stay in the context for
 * a later call. Answers 1 when every offered file has been handled, else 0
 * with one code recorded:
 *   CAB_ERROR_OPEN_FAILED       a cabinet cannot be opened, or its name is too long
 *   CAB_ERROR_NOT_CABINET       no "MSCF" header, or a short reserve
 *   CAB_ERROR_BAD_VERSION       another format version (detail: the version)
 *   CAB_ERROR_CORRUPT           a short read, a bad name, a block that does not fit,
 *                               a checksum that differs, a failed seek, data
 *                               running on past a cabinet that names no next one
 *   CAB_ERROR_NO_MEMORY         alloc answered null
 *   CAB_ERROR_BAD_CODEC         a file to write lies in a folder of an unknown codec
 *   CAB_ERROR_DECODE            a decoder failed, or a block decoded to another size
 *   CAB_ERROR_OUTPUT            a short write, or CAB_NOTIFY_FILE_DONE answered 0
 *   CAB_ERROR_RESERVE_MISMATCH  reserve sizes differ from the context's first cabinet
 *   CAB_ERROR_WRONG_CABINET     (only as NEED_CABINET's error) a next cabinet of
 *                               another set or index
 *   CAB_ERROR_ABORTED           a callback answered -1, or the position that
 *                               CAB_NOTIFY_ENUMERATE gave cannot be reached
 * A context serves one CabCopy at a time. */
int CabCopy(CabContext* context, const char* cabinetName, const char* cabinetPath, int flags,
            CabNotifyFn notify, CabDecryptFn decrypt, void* userData);

/* Destroys the decoder, frees every buffer and the context, and closes any
 * handle the library still holds. context may be null. Always answers 1. */
int CabDestroy(CabContext* context);

#ifdef __cplusplus
}
#endif

#endif
