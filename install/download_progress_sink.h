// The download's progress sink: hands the transfer's figures to the progress
// display and stops the transfer once the user has asked to cancel. It keeps no
// state of its own; its answers depend only on the run's fields at the moment
// of the call.
#pragma once

#include <atomic>
#include <cstdint>

#include "install/download_progress_display.h"
#include "platform/transport.h"

namespace pelmo {

// Statuses of a progress report.
inline constexpr uint32_t BINDSTATUS_DOWNLOADINGDATA = 5;
inline constexpr uint32_t BINDSTATUS_ENDDOWNLOADDATA = 6;

// Answers of OnProgress.
inline constexpr int32_t PROGRESS_CONTINUE = 0;                              // go on
inline constexpr int32_t PROGRESS_ABORT = static_cast<int32_t>(0x80004004);  // give the transfer up

class DownloadProgressSink {
  public:
    // The fields of the run it reads. display receives the figures; it may be
    // null (nothing is shown) and must drop them itself once the window is
    // gone (the engine's NotificationLink does).
    DownloadProgressSink(const std::atomic<int32_t>& cancelRequested,
                         const std::atomic<int32_t>& currentPackageBytes,
                         const std::atomic<int32_t>& completedPackageBytes,
                         DownloadProgressDisplay* display)
        : cancelRequested_(cancelRequested),
          currentPackageBytes_(currentPackageBytes),
          completedPackageBytes_(completedPackageBytes),
          display_(display) {}

    // One progress report of the running transfer: bytes so far, bytes
    // expected, status. PROGRESS_ABORT while a cancel is pending (for any
    // status), else PROGRESS_CONTINUE; statuses 5 and 6 are shown.
    int32_t OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode) const;

    // The sink as the transport's progress callback.
    TransferProgress AsTransferProgress() const;

  private:
    const std::atomic<int32_t>& cancelRequested_;
    const std::atomic<int32_t>& currentPackageBytes_;
    const std::atomic<int32_t>& completedPackageBytes_;
    DownloadProgressDisplay* display_;
};

}  // namespace pelmo
