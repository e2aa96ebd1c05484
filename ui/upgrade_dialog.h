// The upgrade dialog's behaviour, free of any toolkit: it starts a run when it
// opens, turns the engine's notifications into positions, step labels, message
// lines and message boxes on its DialogView, shows the download progress, and
// on closing stops the run, saves the auto-check choice and restarts the client
// when the client started the upgrader and the upgrade did not complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/notification_target.h"
#include "app/upgrade_engine.h"
#include "ui/dialog_view.h"

namespace pelmo::ui {

class UpgradeDialog final : public NotificationTarget, public WindowEventHandler {
  public:
    // startedByClient: the process's flag, read by the close path.
    UpgradeDialog(DialogView& view, std::shared_ptr<UpgradeEngine> engine, bool startedByClient);
    // Detaches from the engine: a worker still running posts nothing more here.
    ~UpgradeDialog() override;
    UpgradeDialog(const UpgradeDialog&) = delete;
    UpgradeDialog& operator=(const UpgradeDialog&) = delete;

    // Window thread. OnInitDialog fills the window and starts the run.
    bool OnInitDialog();
    // The Upgrade button: starts a run unless one is under way.
    void StartUpgrade() override;
    // Cancel button, Escape, the close box and the reaction to 3077.
    void OnCancel() override;
    // The reaction to one notification (WM_UPGRADE_*).
    void OnNotification(int code);

    // WindowEventHandler (window thread).
    void OnWindowEvent(const WindowEvent& event) override;
    unsigned StepLabelColour(int id) const override;

    // NotificationTarget (worker thread): both hand their work to the window
    // thread and return at once.
    void PostNotification(int code) override;
    void ShowDownloadProgress(float bytesSoFar, float bytesExpected, float packageBytes,
                              int32_t bytesBefore) override;

    int currentStep() const { return currentStep_; }
    const std::string& versionText() const { return versionText_; }
    // True once the close path has run: the view has been told to end.
    bool closed() const { return closing_; }
    // True while a worker runs for this dialog's engine.
    bool RunUnderway() const { return engine_->finished.load() == 0; }
    UpgradeEngine& engine() { return *engine_; }

    // The close path's bounded wait: polls of this length, at most this many.
    static constexpr int CLOSE_WAIT_POLL_MS = 100;
    static constexpr int CLOSE_WAIT_POLLS = 6001;

  private:
    void SetStep(int position, int step, const char* message);
    void ShowFailure(const char* text);

    DialogView& view_;
    std::shared_ptr<UpgradeEngine> engine_;
    const bool startedByClient_;
    std::string versionText_;
    int currentStep_ = 0;
    bool closing_ = false;
};

}  // namespace pelmo::ui
