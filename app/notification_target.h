// Where the upgrade worker reports to: the dialog implements NotificationTarget,
// and the engine reaches it only through its NotificationLink.
#pragma once

#include <cstdint>
#include <mutex>

#include "install/download_progress_display.h"

namespace pelmo {

// Implemented by the dialog (and by the console front-end and test recorders).
// Both operations are called on the worker thread and must return at once,
// without waiting for the window thread: PostNotification queues the code for
// the window thread (reactions run there in posting order); ShowDownloadProgress
// hands the progress text to the window thread the same way.
class NotificationTarget : public DownloadProgressDisplay {
  public:
    // code is one of WM_UPGRADE_* (app/notification_codes.h).
    virtual void PostNotification(int code) = 0;
};

// The engine's link to its target. The target attaches itself when it opens
// (UpgradeEngine::AttachTarget) and detaches before it is destroyed
// (UpgradeEngine::DetachTarget). While no target is attached every notification
// and progress report is dropped silently and the run goes on to its end.
// Detach waits for a call already under way into the old target, so once it
// returns the old target is never called again (this is why the target's calls
// must not wait for the window thread).
class NotificationLink final : public DownloadProgressDisplay {
  public:
    void Attach(NotificationTarget* target);
    void Detach();
    bool IsAttached() const;

    // Posts code to the attached target; false when it was dropped.
    bool Post(int code);

    // Forwards to the attached target; dropped when none is attached. The
    // download step reports its progress here.
    void ShowDownloadProgress(float bytesSoFar, float bytesExpected, float packageBytes,
                              int32_t bytesBefore) override;

  private:
    mutable std::mutex mutex_;
    NotificationTarget* target_ = nullptr;
};

}  // namespace pelmo
