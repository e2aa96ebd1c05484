// CabCopy: the walk of a cabinet's file table with the notification
// protocol, and the writing of each requested file from its folder.
#include <cstring>

#include "cabinet/reader_context.h"

namespace cab {

namespace {

bool Enumerate(CabContext* context) {
    const long position = context->seek(context->tableHandle, 0, CAB_SEEK_CUR);
    if (position < 0 || position > INT32_MAX) return Fail(context, CAB_ERROR_CORRUPT);
    CabNotification& n = context->notification;
    n.size = static_cast<int32_t>(position);
    n.folderIndex = context->filesRemaining;
    n.setId = HeaderView{context->header}.SetId();
    n.userData = context->userData;
    if (Notify(context, CAB_NOTIFY_ENUMERATE) == -1) return Fail(context, CAB_ERROR_ABORTED);
    context->filesRemaining = n.folderIndex;
    if (context->filesRemaining != 0 && n.size != position &&
        context->seek(context->tableHandle, n.size, CAB_SEEK_SET) < 0) {
        return Fail(context, CAB_ERROR_ABORTED);
    }
    return true;
}

void FillEntryNotification(CabContext* context) {
    const FileEntryView entry{context->fileEntry};
    CabNotification& n = context->notification;
    n.size = static_cast<int32_t>(entry.FileSize());
    n.text1 = context->fileName;
    n.text2 = context->previousCabinet;
    n.text3 = context->previousDisk;
    n.date = entry.Date();
    n.time = entry.Time();
    n.attributes = entry.Attributes();
    n.userData = context->userData;
    n.folderIndex = entry.FolderIndex();
}

bool CopyFileData(CabContext* context) {
    const FileEntryView entry{context->fileEntry};
    uint64_t remaining = entry.FileSize();
    uint64_t offset = entry.FolderOffset();
    if (remaining == 0) return true;
    if (context->blockStart > offset) {
        // The carried-over folder of a continuation is never read again
        // from its start, so data behind it cannot be served.
        if (context->continuing) return Fail(context, CAB_ERROR_CORRUPT);
        context->currentFolder = NO_FOLDER;
    }
    if (!SelectFolder(context, entry.FolderIndex())) return false;
    while (context->blockStart + context->blockSize <= offset) {
        if (!NextBlock(context)) return false;
    }
    for (;;) {
        const uint32_t inBlock = static_cast<uint32_t>(offset - context->blockStart);
        uint32_t n = context->blockSize - inBlock;
        if (n > remaining) n = static_cast<uint32_t>(remaining);
        if (n != 0 && context->write(context->outputHandle, context->outputBuffer + inBlock, n) !=
                          static_cast<int>(n)) {
            return Fail(context, CAB_ERROR_OUTPUT);
        }
        offset += n;
        remaining -= n;
        if (remaining == 0) return true;
        if (!NextBlock(context)) return false;
    }
}

void CloseOutput(CabContext* context) {
    context->close(context->outputHandle);
    context->outputHandle = -1;
}

bool WriteFile(CabContext* context) {
    // A continuation replaces the entry buffers with the next cabinet's
    // entries; the completion describes the file that was started.
    uint8_t entryCopy[sizeof context->fileEntry];
    char nameCopy[NAME_BUFFER_SIZE];
    std::memcpy(entryCopy, context->fileEntry, sizeof entryCopy);
    std::memcpy(nameCopy, context->fileName, NAME_BUFFER_SIZE);
    if (!CopyFileData(context)) {
        CloseOutput(context);
        return false;
    }
    std::memcpy(context->fileEntry, entryCopy, sizeof entryCopy);
    std::memcpy(context->fileName, nameCopy, NAME_BUFFER_SIZE);

    const FileEntryView entry{context->fileEntry};
    CabNotification& n = context->notification;
    n.text1 = context->fileName;
    n.fileHandle = context->outputHandle;
    n.date = entry.Date();
    n.time = entry.Time();
    n.attributes = static_cast<uint16_t>(entry.Attributes() & ~CAB_ATTR_EXEC);
    n.userData = context->userData;
    n.folderIndex = entry.FolderIndex();
    n.size = (entry.Attributes() & CAB_ATTR_EXEC) ? 1 : 0;
    const int answer = Notify(context, CAB_NOTIFY_FILE_DONE);
    if (answer == -1) {
        CloseOutput(context);
        return Fail(context, CAB_ERROR_ABORTED);
    }
    context->outputHandle = -1;  // the callback owns it now
    if (answer == 0) return Fail(context, CAB_ERROR_OUTPUT);
    return true;
}

bool IsFromPrevious(uint16_t folderIndex) {
    return folderIndex == CONTINUED_FROM_PREVIOUS || folderIndex == CONTINUED_BOTH;
}
bool IsToNext(uint16_t folderIndex) {
    return folderIndex == CONTINUED_TO_NEXT || folderIndex == CONTINUED_BOTH;
}

// Forgets everything an earlier walk on this context left behind: a walk
// starts with no folder selected and no block in the output buffer.
void ResetWalk(CabContext* context) {
    context->continuing = 0;
    context->currentFolder = NO_FOLDER;
    context->blockStart = 0;
    context->blockSize = 0;
    context->blocksRemaining = 0;
    context->filesRemaining = 0;
    context->skippedContinuations = 0;
    context->outputHandle = -1;
}

bool Walk(CabContext* context, const char* cabinetName, const char* cabinetPath) {
    if (!OpenCabinet(context, cabinetName, nullptr)) return false;
    CopyName(context->cabinetPath, cabinetPath);
    if (!Enumerate(context)) return false;
    for (;;) {
        if (context->filesRemaining == 0) return true;
        context->filesRemaining -= 1;
        if (!ReadFileEntry(context)) return false;
        FillEntryNotification(context);
        const uint16_t folderIndex = FileEntryView{context->fileEntry}.FolderIndex();
        if (IsFromPrevious(folderIndex) && !context->continuing) {
            if (Notify(context, CAB_NOTIFY_CONTINUED_FILE) == -1) {
                return Fail(context, CAB_ERROR_ABORTED);
            }
        } else if (!IsFromPrevious(folderIndex) && context->continuing) {
            context->filesRemaining = 0;
        } else {
            const int answer = Notify(context, CAB_NOTIFY_FILE_START);
            if (answer == -1) return Fail(context, CAB_ERROR_ABORTED);
            if (answer == 0) {
                if (IsToNext(folderIndex)) context->skippedContinuations += 1;
            } else {
                context->outputHandle = answer;
                if (!WriteFile(context)) return false;
            }
        }
        if (context->filesRemaining == 0 && !Enumerate(context)) return false;
    }
}

}  // namespace

}  // namespace cab

using namespace cab;

extern "C" int CabCopy(CabContext* context, const char* cabinetName, const char* cabinetPath,
                       int flags, CabNotifyFn notify, CabDecryptFn decrypt, void* userData) {
    (void)flags;
    context->userData = userData;
    context->notify = notify;
    context->decrypt = decrypt;
    ResetWalk(context);
    if (cabinetName == nullptr || cabinetPath == nullptr ||
        !CopyName(context->cabinetPath, cabinetPath)) {
        Fail(context, CAB_ERROR_OPEN_FAILED);
        return 0;
    }
    char path[NAME_BUFFER_SIZE];
    std::memcpy(path, context->cabinetPath, NAME_BUFFER_SIZE);
    const bool ok = Walk(context, cabinetName, path);
    if (context->outputHandle != -1) CloseOutput(context);
    CloseCabinetHandles(context);
    return ok ? 1 : 0;
}
