// The face of the upgrade dialog: what UpgradeDialog asks of a toolkit. The Qt
// window, the console front-end and the tests' recording view implement it.
#pragma once

#include <string>

namespace pelmo::ui {

// Something handed to the window thread: a worker notification, or the
// download text computed on the worker thread.
struct WindowEvent {
    enum class Kind { Notification, DownloadText };
    Kind kind = Kind::Notification;
    int code = 0;      // Notification: one of WM_UPGRADE_*; DownloadText: bar position
    std::string text;  // DownloadText: the new text of label 1006
};

// The behaviour behind a view (UpgradeDialog), called on the window thread.
class WindowEventHandler {
  public:
    virtual ~WindowEventHandler() = default;
    // A posted event, in posting order.
    virtual void OnWindowEvent(const WindowEvent& event) = 0;
    // Text colour of a step label (0x00BBGGRR) when the view draws it.
    virtual unsigned StepLabelColour(int id) const = 0;
    // The Upgrade button's click.
    virtual void StartUpgrade() = 0;
    // The Cancel button, Escape and the window's close box.
    virtual void OnCancel() = 0;
};

class DialogView {
  public:
    virtual ~DialogView() = default;

    // Any thread, returns at once: queue the event for the window thread,
    // which hands it to the handler. Events still queued when the view goes
    // away are dropped.
    virtual void PostToWindow(WindowEvent event) = 0;
    // Window thread: who receives the posted events (null: nobody, dropped).
    virtual void SetEventHandler(WindowEventHandler* handler) = 0;

    // Everything below runs on the window thread.
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetIcon() = 0;  // icon 128, big and small
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int pos) = 0;
    virtual int GetProgressPos() const = 0;
    virtual void SetCheck(bool checked) = 0;
    virtual bool GetCheck() const = 0;
    virtual void EnableUpgradeButton(bool enabled) = 0;
    // Redraw the window; the step labels take their colours from the
    // handler's StepLabelColour at that point.
    virtual void Invalidate(bool erase) = 0;
    // A message box owned by the window: caption "Pelmo", one OK button.
    // Returns when it was dismissed.
    virtual void MessageBox(const std::string& text) = 0;
    // During the close path's wait: repaint and take no user input. Posted
    // events that come through meanwhile are dropped by the closing handler.
    virtual void KeepRepainting() = 0;
    // End the modal run.
    virtual void EndDialog() = 0;
    // After a failure's message box: its cause, for a face that has room for
    // it (the window keeps its texts and shows nothing more).
    virtual void ShowFailureReason(const std::string& /*reason*/) {}
};

}  // namespace pelmo::ui
