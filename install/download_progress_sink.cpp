#include "install/download_progress_sink.h"

namespace pelmo {

int32_t DownloadProgressSink::OnProgress(uint32_t progress, uint32_t progressMax,
                                         uint32_t statusCode) const {
    if (cancelRequested_.load() != 0) return PROGRESS_ABORT;
    if (display_ == nullptr) return PROGRESS_CONTINUE;
    if (statusCode == BINDSTATUS_DOWNLOADINGDATA || statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
        display_->ShowDownloadProgress(
            static_cast<float>(progress), static_cast<float>(progressMax),
            static_cast<float>(currentPackageBytes_.load()), completedPackageBytes_.load());
    }
    return PROGRESS_CONTINUE;
}

TransferProgress DownloadProgressSink::AsTransferProgress() const {
    return [this](uint64_t bytesSoFar, uint64_t bytesExpected, int status) {
        // The display takes 32-bit counters, as the platform's reports carry.
        return OnProgress(static_cast<uint32_t>(bytesSoFar), static_cast<uint32_t>(bytesExpected),
                          static_cast<uint32_t>(status)) == PROGRESS_CONTINUE;
    };
}

}  // namespace pelmo
