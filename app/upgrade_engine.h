// The upgrade engine: the data of one upgrade run, its step operations, and the
// worker that performs the five steps in order and reports each outcome.
//
// Lifetime: the owner (the dialog) holds the engine through std::shared_ptr and
// every worker holds another copy, so the engine outlives a worker even when a
// close gives up waiting for it. Threads share only the std::atomic words.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/notification_codes.h"
#include "app/notification_target.h"
#include "app/upgrade_steps.h"
#include "settings/version_entry.h"

namespace pelmo {

// The run's data. Can be built on its own: its constructor reads the installed
// version from the client settings.
class UpgradeEngineBase {
  public:
    UpgradeEngineBase();
    virtual ~UpgradeEngineBase() = default;
    UpgradeEngineBase(const UpgradeEngineBase&) = delete;
    UpgradeEngineBase& operator=(const UpgradeEngineBase&) = delete;

    // The user's auto-check choice (UPGRADEAUTORUN is exactly 1).
    bool ReadAutoCheck() const;

    // Written by step 1 and read by later steps, all on the worker thread.
    std::vector<VersionEntry> versions;  // newer than installed, ascending id
    std::string packageBaseUrl;          // the manifest's package base address
    int32_t latestVersion = 2000;        // highest version offered
    int32_t installedVersion = 0;        // VERSION; read at construction and by step 1

    // Shared with the window thread.
    std::atomic<int32_t> totalDownloadBytes{0};     // sum of the kept packages' sizes
    std::atomic<int32_t> currentPackageBytes{0};    // size of the package in transfer
    std::atomic<int32_t> completedPackageBytes{0};  // sizes of the packages done this run
};

class UpgradeEngine : public UpgradeEngineBase {
  public:
    UpgradeEngine();  // with DefaultUpgradeSteps()
    explicit UpgradeEngine(UpgradeSteps steps);
    ~UpgradeEngine() override;

    // The step operations, in the order of a run. Each answers the step's
    // truth value (an empty seam answers 0). FetchManifest first empties
    // versions and packageBaseUrl, reads installedVersion again, sets
    // latestVersion to it and zeroes totalDownloadBytes and
    // completedPackageBytes, then calls the step.
    int FetchManifest();
    int HasNewerVersion();
    int DownloadPackages();
    int IsClientRunning();
    int InstallPackages();
    int LaunchClient();  // also called by the dialog's close path

    // The dialog attaches itself when it opens and detaches before it is
    // destroyed; notifications for a detached target are dropped.
    void AttachTarget(NotificationTarget* target) { notifyWindow.Attach(target); }
    void DetachTarget() { notifyWindow.Detach(); }
    // Posts code to the target if one is attached; never waits for the window.
    void PostNotification(int code) { notifyWindow.Post(code); }

    // Receiver of the notifications and of the download progress. Pass it to
    // the download step as its DownloadProgressDisplay.
    NotificationLink notifyWindow;
    // 1 while the user asks the run to stop; written only by the window thread.
    std::atomic<int32_t> cancelRequested{0};
    // 1 when no worker runs for this engine.
    std::atomic<int32_t> finished{1};
    // 1 when the run's failing step failed a signature or hash check rather
    // than the network: the dialog then names that cause. Set before the
    // failure is posted; cleared by FetchManifest.
    std::atomic<int32_t> trustCheckFailed{0};

  private:
    UpgradeSteps steps_;
};

// Starts a run of engine on a new detached std::thread running UpgradeThreadProc
// with its own copy of the shared pointer. Answers false, and starts nothing,
// while a run is under way (finished is 0) or when the thread cannot be created.
// finished is cleared here already, before the worker exists, so that a close
// arriving before the worker's first action still waits for it.
bool StartUpgradeThread(const std::shared_ptr<UpgradeEngine>& engine);

// The worker: pauses 20 ms, then performs the steps, posting a notification
// before each step and after each failure, and checks cancelRequested between
// steps. Ends with finished = 1, also after an exception. Answers 0.
int UpgradeThreadProc(std::shared_ptr<UpgradeEngine> engine);

}  // namespace pelmo
