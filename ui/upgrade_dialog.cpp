#include "ui/upgrade_dialog.h"

#include <chrono>
#include <thread>

#include "settings/client_settings.h"
#include "ui/dialog_resources.h"
#include "ui/dialog_text_rules.h"

namespace pelmo::ui {

UpgradeDialog::UpgradeDialog(DialogView& view, std::shared_ptr<UpgradeEngine> engine,
                             bool startedByClient)
    : view_(view), engine_(std::move(engine)), startedByClient_(startedByClient) {}

UpgradeDialog::~UpgradeDialog() {
    engine_->DetachTarget();
    view_.SetEventHandler(nullptr);
}

bool UpgradeDialog::OnInitDialog() {
    view_.SetTitle(text::TITLE);
    // The window exists from here on: notifications reach it.
    view_.SetEventHandler(this);
    engine_->AttachTarget(this);
    view_.SetControlText(IDC_VERSION, versionText_);
    view_.SetIcon();
    view_.SetProgressRange(0, 100);
    view_.SetControlText(IDC_MESSAGE, text::PROGRESS_START);

    // A short-lived engine base reads both settings: its constructor reads the
    // installed version.
    const UpgradeEngineBase settings;
    versionText_ = VersionDisplayText(settings.installedVersion);
    view_.SetCheck(settings.ReadAutoCheck());

    StartUpgrade();
    view_.SetControlText(IDC_VERSION, versionText_);
    return true;
}

void UpgradeDialog::StartUpgrade() {
    if (engine_->finished.load() == 0) return;  // a run is under way
    engine_->currentPackageBytes.store(0);
    engine_->completedPackageBytes.store(0);
    // A thread that cannot be created leaves position 0 and Upgrade disabled:
    // only closing is left to the user.
    StartUpgradeThread(engine_);
    view_.SetProgressPos(0);
    view_.EnableUpgradeButton(false);
    view_.Invalidate(true);
}

void UpgradeDialog::SetStep(int position, int step, const char* message) {
    view_.SetProgressPos(position);
    currentStep_ = step;
    view_.SetControlText(IDC_MESSAGE, message);
    view_.Invalidate(false);
}

void UpgradeDialog::ShowFailure(const char* message) {
    view_.MessageBox(message);
    view_.EnableUpgradeButton(true);
}

void UpgradeDialog::OnNotification(int code) {
    switch (code) {
        case WM_UPGRADE_CLIENT_RUNNING:
            ShowFailure(text::BOX_CLIENT_RUNNING);
            break;
        case WM_UPGRADE_FETCHING_CONFIG:
            SetStep(10, IDC_STEP1, text::PROGRESS_10);
            break;
        case WM_UPGRADE_CONFIG_FAILED:
            // A signature or hash check failed: not a network problem.
            ShowFailure(engine_->trustCheckFailed.load() != 0 ? text::BOX_CONFIG_UNTRUSTED
                                                              : text::BOX_CONFIG_FAILED);
            break;
        case WM_UPGRADE_CHECKING_VERSION:
            SetStep(15, IDC_STEP2, text::PROGRESS_15);
            break;
        case WM_UPGRADE_NO_NEW_VERSION:
            SetStep(0, 0, text::NO_NEW_VERSION_LINE);
            ShowFailure(text::BOX_NO_NEW_VERSION);
            break;
        case WM_UPGRADE_DOWNLOADING:
            SetStep(20, IDC_STEP3, text::PROGRESS_20);
            break;
        case WM_UPGRADE_DOWNLOAD_FAILED:
            ShowFailure(engine_->trustCheckFailed.load() != 0 ? text::BOX_PACKAGE_UNTRUSTED
                                                              : text::BOX_DOWNLOAD_FAILED);
            break;
        case WM_UPGRADE_INSTALLING:
            SetStep(60, IDC_STEP4, text::PROGRESS_60);
            break;
        case WM_UPGRADE_INSTALL_FAILED:
            ShowFailure(text::BOX_INSTALL_FAILED);
            break;
        case WM_UPGRADE_RESTARTING:
            SetStep(90, IDC_STEP5, text::PROGRESS_90);
            break;
        case WM_UPGRADE_RESTART_FAILED:
            ShowFailure(text::BOX_RESTART_FAILED);
            break;
        case WM_UPGRADE_COMPLETE:
            SetStep(100, IDC_STEP5, text::PROGRESS_100);
            OnCancel();
            break;
        default:
            break;  // not a notification of ours
    }
}

void UpgradeDialog::OnWindowEvent(const WindowEvent& event) {
    // Whatever is still queued once the close path began is not handled.
    if (closing_) return;
    if (event.kind == WindowEvent::Kind::Notification) {
        OnNotification(event.code);
        return;
    }
    // The download text stays on label 1006 for the rest of the dialog's life.
    view_.SetControlText(IDC_STEP3, event.text);
    currentStep_ = IDC_STEP3;
    view_.Invalidate(false);
}

unsigned UpgradeDialog::StepLabelColour(int id) const {
    return id == currentStep_ ? STEP_COLOUR_CURRENT : STEP_COLOUR_OTHER;
}

void UpgradeDialog::PostNotification(int code) {
    view_.PostToWindow(WindowEvent{WindowEvent::Kind::Notification, code, {}});
}

void UpgradeDialog::ShowDownloadProgress(float bytesSoFar, float bytesExpected, float packageBytes,
                                         int32_t bytesBefore) {
    // Worker thread: compute the text here, show it on the window thread.
    const int32_t total = engine_->totalDownloadBytes.load();
    const int64_t shown =
        DownloadedBytesShown(bytesSoFar, bytesExpected, packageBytes, bytesBefore, total);
    view_.PostToWindow(
        WindowEvent{WindowEvent::Kind::DownloadText, 0, DownloadProgressText(shown, total)});
}

void UpgradeDialog::OnCancel() {
    if (closing_) return;
    closing_ = true;

    engine_->cancelRequested.store(1);
    for (int polls = 0; engine_->finished.load() == 0 && polls < CLOSE_WAIT_POLLS; ++polls) {
        view_.KeepRepainting();
        std::this_thread::sleep_for(std::chrono::milliseconds(CLOSE_WAIT_POLL_MS));
    }
    engine_->cancelRequested.store(0);
    engine_->finished.store(1);
    engine_->currentPackageBytes.store(0);
    engine_->completedPackageBytes.store(0);

    ClientSettings().WriteAutoCheck(view_.GetCheck());
    view_.EnableUpgradeButton(true);
    if (startedByClient_ && view_.GetProgressPos() != 100) {
        engine_->LaunchClient();  // result ignored
    }
    // The window goes away: nothing more is posted to it.
    engine_->DetachTarget();
    view_.EndDialog();
}

}  // namespace pelmo::ui
