// Crossing into the next cabinet of a set while a file's data continues
// there: asking the caller for it, retrying after failed attempts, and
// stepping over the continuation entries at the start of its file table.
#include <cstring>

#include "cabinet/reader_context.h"

namespace cab {

namespace {

bool CloseForSwitch(CabContext* context) {
    bool ok = true;
    if (context->dataHandle != -1 && context->close(context->dataHandle) != 0) ok = false;
    context->dataHandle = -1;
    if (context->tableHandle != -1 && context->close(context->tableHandle) != 0) ok = false;
    context->tableHandle = -1;
    return ok ? true : Fail(context, CAB_ERROR_CORRUPT);
}

}  // namespace

bool SwitchToNextCabinet(CabContext* context) {
    const HeaderView current{context->header};
    // Data that runs past a cabinet which names no next cabinet can never be
    // found: asking the caller again and again would not end.
    if (!(current.Flags() & HEADER_FLAG_NEXT)) return Fail(context, CAB_ERROR_CORRUPT);
    const ExpectedCabinet expected{current.SetId(),
                                   static_cast<uint16_t>(current.CabinetIndex() + 1)};
    char attemptedCabinet[NAME_BUFFER_SIZE];
    char attemptedDisk[NAME_BUFFER_SIZE];
    int error = 0;
    for (;;) {
        if (!CloseForSwitch(context)) return false;
        CabNotification& n = context->notification;
        n.text1 = context->nextCabinet;
        n.text2 = context->nextDisk;
        n.text3 = context->cabinetPath;
        n.userData = context->userData;
        n.setId = expected.setId;
        n.cabinetIndex = expected.cabinetIndex;
        n.error = error;
        if (Notify(context, CAB_NOTIFY_NEED_CABINET) == -1) return Fail(context, CAB_ERROR_ABORTED);
        context->nextCabinet[NAME_READ_SIZE] = '\0';
        context->nextDisk[NAME_READ_SIZE] = '\0';
        context->cabinetPath[NAME_READ_SIZE] = '\0';
        std::memcpy(attemptedCabinet, context->nextCabinet, NAME_BUFFER_SIZE);
        std::memcpy(attemptedDisk, context->nextDisk, NAME_BUFFER_SIZE);
        if (OpenCabinet(context, attemptedCabinet, &expected) && SeekFolder(context, 0, true)) {
            break;
        }
        if (context->lastError == CAB_ERROR_ABORTED) return false;
        error = context->lastError;
        // A cabinet that was read further than its header has replaced the
        // names; the next request is about the cabinet that was asked for.
        std::memcpy(context->nextCabinet, attemptedCabinet, NAME_BUFFER_SIZE);
        std::memcpy(context->nextDisk, attemptedDisk, NAME_BUFFER_SIZE);
    }
    context->skippedContinuations += 1;
    while (context->skippedContinuations > 0) {
        context->skippedContinuations -= 1;
        if (context->filesRemaining == 0) return Fail(context, CAB_ERROR_CORRUPT);
        context->filesRemaining -= 1;
        if (!ReadFileEntry(context)) return false;
    }
    context->continuing = 1;
    return true;
}

}  // namespace cab
