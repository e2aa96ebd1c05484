// The worker of an upgrade run and its start.
#include <chrono>
#include <system_error>
#include <thread>

#include "app/upgrade_engine.h"

namespace pelmo {

namespace {

// The steps in order; returns at the first failure, cancel or outcome. Every
// notification is posted before finished is set again.
void RunSteps(UpgradeEngine& engine) {
    auto cancelled = [&engine] { return engine.cancelRequested.load() != 0; };

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_FETCHING_CONFIG);
    if (!engine.FetchManifest()) {
        engine.PostNotification(WM_UPGRADE_CONFIG_FAILED);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_CHECKING_VERSION);
    if (!engine.HasNewerVersion()) {
        engine.PostNotification(WM_UPGRADE_NO_NEW_VERSION);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_DOWNLOADING);
    if (!engine.DownloadPackages()) {
        engine.PostNotification(WM_UPGRADE_DOWNLOAD_FAILED);
        return;
    }

    if (cancelled()) return;
    if (engine.IsClientRunning()) {
        engine.PostNotification(WM_UPGRADE_CLIENT_RUNNING);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_INSTALLING);
    if (!engine.InstallPackages()) {
        engine.PostNotification(WM_UPGRADE_INSTALL_FAILED);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_RESTARTING);
    engine.PostNotification(engine.LaunchClient() ? WM_UPGRADE_COMPLETE
                                                  : WM_UPGRADE_RESTART_FAILED);
}

}  // namespace

int UpgradeThreadProc(std::shared_ptr<UpgradeEngine> engine) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!engine) return 0;
    engine->finished.store(0);
    try {
        RunSteps(*engine);
    } catch (...) {
        // A step that throws ends the run without a notification.
    }
    engine->finished.store(1);
    return 0;
}

bool StartUpgradeThread(const std::shared_ptr<UpgradeEngine>& engine) {
    if (!engine) return false;
    int32_t idle = 1;
    if (!engine->finished.compare_exchange_strong(idle, 0)) return false;
    try {
        std::thread(UpgradeThreadProc, engine).detach();
    } catch (const std::system_error&) {
        engine->finished.store(1);
        return false;
    }
    return true;
}

}  // namespace pelmo
