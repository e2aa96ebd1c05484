// The worker of an upgrade run and its start.
#include <chrono>
#include <ctime>
#include <system_error>
#include <thread>

#include "app/upgrade_engine.h"

namespace pelmo {

namespace {

// The run's short log: one line a step outcome, with its cause.
class RunLog {
  public:
    explicit RunLog(UpgradeEngine& engine) : engine_(engine) {
        char stamp[32] = "";
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        if (gmtime_r(&now, &utc) != nullptr)
            std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
        text_ = std::string(stamp) + " run\n";
    }
    ~RunLog() {
        try {
            engine_.WriteRunLog(text_);
        } catch (...) {
            // The log is a help, never a reason to fail.
        }
    }

    void Offered() {
        std::string line = "  installed " + std::to_string(engine_.installedVersion) + ", offered:";
        for (const VersionEntry& entry : engine_.versions) line += " " + std::to_string(entry.id);
        if (engine_.versions.empty()) line += " nothing newer";
        Line(line);
    }
    // The outcome of a step; false when it failed (the cause is added).
    bool Outcome(const char* step, bool ok) {
        std::string line = std::string("  ") + step + (ok ? ": ok" : ": failed");
        const std::string reason = ok ? std::string() : engine_.FailureReason();
        if (!reason.empty()) line += ": " + reason;
        Line(line);
        return ok;
    }
    void Line(const std::string& line) { text_ += line + "\n"; }

  private:
    UpgradeEngine& engine_;
    std::string text_;
};

// The steps in order; returns at the first failure, cancel or outcome. Every
// notification is posted before finished is set again.
void RunSteps(UpgradeEngine& engine, RunLog& log) {
    auto cancelled = [&engine, &log] {
        if (engine.cancelRequested.load() == 0) return false;
        log.Line("  stopped on request");
        return true;
    };

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_FETCHING_CONFIG);
    if (!log.Outcome("1 manifest", engine.FetchManifest() != 0)) {
        engine.PostNotification(WM_UPGRADE_CONFIG_FAILED);
        return;
    }
    log.Offered();

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_CHECKING_VERSION);
    if (!engine.HasNewerVersion()) {
        log.Line("  2 version: no new version");
        engine.PostNotification(WM_UPGRADE_NO_NEW_VERSION);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_DOWNLOADING);
    if (!log.Outcome("3 download", engine.DownloadPackages() != 0)) {
        engine.PostNotification(WM_UPGRADE_DOWNLOAD_FAILED);
        return;
    }

    if (cancelled()) return;
    if (engine.IsClientRunning()) {
        log.Line("  the client is running");
        engine.PostNotification(WM_UPGRADE_CLIENT_RUNNING);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_INSTALLING);
    if (!log.Outcome("4 install", engine.InstallPackages() != 0)) {
        engine.PostNotification(WM_UPGRADE_INSTALL_FAILED);
        return;
    }

    if (cancelled()) return;
    engine.PostNotification(WM_UPGRADE_RESTARTING);
    const bool launched = log.Outcome("5 client start", engine.LaunchClient() != 0);
    engine.PostNotification(launched ? WM_UPGRADE_COMPLETE : WM_UPGRADE_RESTART_FAILED);
}

}  // namespace

int UpgradeThreadProc(std::shared_ptr<UpgradeEngine> engine) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!engine) return 0;
    engine->finished.store(0);
    try {
        RunLog log(*engine);
        RunSteps(*engine, log);
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
