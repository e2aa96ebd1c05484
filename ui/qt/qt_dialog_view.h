// The upgrade dialog's window in Qt: template 102's controls, texts, tab order
// and layout (dialog units converted with the dialog font's metrics), the red
// and black step labels, message boxes owned by the window.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>

#include "ui/dialog_view.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace pelmo::ui {

class UpgradeDialog;

class QtDialogView final : public QDialog, public DialogView {
  public:
    QtDialogView();
    ~QtDialogView() override;

    // Runs dialog modally (OnInitDialog, then the window's event loop until
    // the dialog ends). Answers 0 when the upgrade completed, 1 otherwise.
    int RunModal(UpgradeDialog& dialog);

    // The control of a template id (null for an unknown id).
    QWidget* Control(int id) const;
    // Tests: replaces the modal message box (text in, nothing out).
    void SetMessageBoxHook(std::function<void(const std::string&)> hook) {
        messageBoxHook_ = std::move(hook);
    }

    // Pixels of a rectangle in dialog units, with the window font's metrics.
    QRect DialogUnitsToPixels(int x, int y, int width, int height) const;

    void PostToWindow(WindowEvent event) override;
    void SetEventHandler(WindowEventHandler* handler) override { handler_ = handler; }
    void SetTitle(const std::string& title) override;
    void SetIcon() override;
    void SetControlText(int id, const std::string& text) override;
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int pos) override;
    int GetProgressPos() const override;
    void SetCheck(bool checked) override;
    bool GetCheck() const override;
    void EnableUpgradeButton(bool enabled) override;
    void Invalidate(bool erase) override;
    void MessageBox(const std::string& text) override;
    void KeepRepainting() override;
    void EndDialog() override;

  protected:
    bool event(QEvent* event) override;
    void reject() override;                        // Escape (and the Cancel button)
    void closeEvent(QCloseEvent* event) override;  // the close box

  private:
    void BuildControls();
    QLabel* AddLabel(int id, const char* text, int x, int y, int width, int height,
                     Qt::Alignment alignment);

    WindowEventHandler* handler_ = nullptr;
    std::map<int, QWidget*> controls_;
    QPushButton* upgradeButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QCheckBox* autoCheckBox_ = nullptr;
    int baseUnitX_ = 0;
    int baseUnitY_ = 0;
    std::function<void(const std::string&)> messageBoxHook_;
};

// The dialog font: 9 pt SimSun, else Noto Sans CJK SC, else WenQuanYi Zen Hei.
QFont DialogFont();

}  // namespace pelmo::ui
