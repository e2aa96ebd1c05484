// The console face of the upgrade dialog: the same UpgradeDialog behaviour,
// printed. Each step is printed as it becomes current, then the message line,
// the download text (redrawn in place on a terminal, one line per change
// otherwise) and every message box. Once the run is over and its last
// notification handled, the view takes the close path, so the program ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "ui/dialog_view.h"

namespace pelmo::ui {

class UpgradeDialog;

class ConsoleView final : public DialogView {
  public:
    // terminal: out is a terminal, so the download text is redrawn in place.
    ConsoleView(std::FILE* out, bool terminal);

    // Runs dialog modally: OnInitDialog, then every posted event in order
    // until the dialog ends. Answers the exit status: 0 when the upgrade
    // completed (position 100), 1 otherwise.
    int RunModal(UpgradeDialog& dialog);
    bool upgradeEnabled() const { return upgradeEnabled_; }

    // Any thread or a signal handler: take the close path as the Cancel
    // button would.
    static void RequestCancel();
    // SIGINT, SIGTERM and SIGHUP request the close path.
    static void InstallCancelSignals();
    // A reader that went away (a closed pipe) must not end the program: its
    // output is dropped, and the run and its close path go on.
    static void SurviveClosedOutput();

    void PostToWindow(WindowEvent event) override;
    void SetEventHandler(WindowEventHandler* handler) override;
    void SetTitle(const std::string& title) override;
    void SetIcon() override {}
    void SetControlText(int id, const std::string& text) override;
    void SetProgressRange(int, int) override {}  // always 0..100
    void SetProgressPos(int pos) override { position_ = pos; }
    int GetProgressPos() const override { return position_; }
    void SetCheck(bool checked) override { checked_ = checked; }
    bool GetCheck() const override { return checked_; }
    void EnableUpgradeButton(bool enabled) override { upgradeEnabled_ = enabled; }
    void Invalidate(bool erase) override;
    void MessageBox(const std::string& text) override;
    void KeepRepainting() override;
    void EndDialog() override;
    // Printed on the line after the message box.
    void ShowFailureReason(const std::string& reason) override;

  private:
    bool WaitForEvent(WindowEvent& event);
    void ShowChangedLine(int id);
    void PrintLine(const std::string& line);
    void PrintInPlace(const std::string& line);

    std::FILE* out_;
    const bool terminal_;
    bool lineOpen_ = false;  // an in-place line waits for its end of line

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<WindowEvent> queue_;
    bool accepting_ = true;

    WindowEventHandler* handler_ = nullptr;
    std::map<int, std::string> labels_;
    std::map<int, std::string> shownLines_;  // version and message line as last printed
    int printedStep_ = 0;
    int position_ = 0;
    bool checked_ = false;
    bool upgradeEnabled_ = true;
    bool ended_ = false;
};

}  // namespace pelmo::ui
