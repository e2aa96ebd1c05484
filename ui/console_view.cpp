#include "ui/console_view.h"

#include <atomic>
#include <chrono>
#include <csignal>

#include "ui/dialog_resources.h"
#include "ui/upgrade_dialog.h"

namespace pelmo::ui {

namespace {

// Set by a signal handler or another thread: lock-free, so safe in both.
std::atomic<int> cancelSignalled{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnCancelSignal(int) { cancelSignalled.store(1); }

constexpr auto EVENT_POLL = std::chrono::milliseconds(50);

}  // namespace

ConsoleView::ConsoleView(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {
    labels_ = {{IDC_VERSION, text::VERSION_PLACEHOLDER},
               {IDC_MESSAGE, text::MESSAGE_PLACEHOLDER},
               {IDC_STEP1, text::STEP1},
               {IDC_STEP2, text::STEP2},
               {IDC_STEP3, text::STEP3},
               {IDC_STEP4, text::STEP4},
               {IDC_STEP5, text::STEP5}};
}

void ConsoleView::RequestCancel() { cancelSignalled.store(1); }

void ConsoleView::InstallCancelSignals() {
    struct sigaction action = {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void ConsoleView::SurviveClosedOutput() {
    // Write errors are not looked at anywhere in this view; without SIGPIPE
    // a write to a closed pipe is one of them.
    std::signal(SIGPIPE, SIG_IGN);
}

int ConsoleView::RunModal(UpgradeDialog& dialog) {
    cancelSignalled.store(0);
    dialog.OnInitDialog();
    Invalidate(false);
    WindowEvent event;
    while (!ended_) {
        // A stop request comes before whatever is queued: a busy queue (the
        // download's progress) must not keep it waiting.
        if (cancelSignalled.exchange(0) != 0) {
            PrintLine(text::STOPPING);
            dialog.OnCancel();
            continue;
        }
        if (WaitForEvent(event)) {
            if (handler_ != nullptr) handler_->OnWindowEvent(event);
            continue;
        }
        // finished is set after the run's last notification was posted, so
        // once it reads 1 and the queue is empty every notification of the
        // run has been handled: nobody is left to click Upgrade, so close.
        if (!dialog.RunUnderway()) {
            std::lock_guard lock(mutex_);
            if (!queue_.empty()) continue;
        } else {
            continue;
        }
        dialog.OnCancel();
    }
    return position_ == 100 ? 0 : 1;
}

bool ConsoleView::WaitForEvent(WindowEvent& event) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, EVENT_POLL, [this] { return !queue_.empty(); });
    if (queue_.empty()) return false;
    event = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void ConsoleView::PostToWindow(WindowEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (!accepting_) return;
        queue_.push_back(std::move(event));
    }
    wake_.notify_one();
}

void ConsoleView::SetEventHandler(WindowEventHandler* handler) { handler_ = handler; }

void ConsoleView::SetTitle(const std::string& title) { PrintLine(title); }

void ConsoleView::SetControlText(int id, const std::string& text) {
    auto& label = labels_[id];
    if (label == text) return;
    label = text;
    // Label 1006 carries the download progress: shown at once. The other
    // texts are shown with the next redraw, after the step they belong to.
    if (id == IDC_STEP3) PrintInPlace(text);
}

void ConsoleView::Invalidate(bool) {
    if (handler_ == nullptr) return;
    ShowChangedLine(IDC_VERSION);
    int current = 0;
    for (int id = IDC_STEP1; id <= IDC_STEP5; ++id) {
        if (handler_->StepLabelColour(id) == STEP_COLOUR_CURRENT) current = id;
    }
    if (current != printedStep_) {
        printedStep_ = current;
        // The step's own name: label 1006 may carry the download text by now.
        static const std::map<int, const char*> steps = {{IDC_STEP1, text::STEP1},
                                                         {IDC_STEP2, text::STEP2},
                                                         {IDC_STEP3, text::STEP3},
                                                         {IDC_STEP4, text::STEP4},
                                                         {IDC_STEP5, text::STEP5}};
        if (current != 0) PrintLine(std::string("==> ") + steps.at(current));
    }
    ShowChangedLine(IDC_MESSAGE);
}

void ConsoleView::ShowChangedLine(int id) {
    const std::string& text = labels_[id];
    std::string& shown = shownLines_[id];
    if (text == shown) return;
    shown = text;
    if (!text.empty()) PrintLine(text);
}

void ConsoleView::MessageBox(const std::string& text) {
    PrintLine(std::string("[") + text::MESSAGE_BOX_CAPTION + "] " + text);
}

void ConsoleView::ShowFailureReason(const std::string& reason) { PrintLine("  " + reason); }

void ConsoleView::KeepRepainting() { std::fflush(out_); }

void ConsoleView::EndDialog() {
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
        queue_.clear();
    }
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fflush(out_);
    ended_ = true;
}

void ConsoleView::PrintLine(const std::string& line) {
    if (lineOpen_) std::fputc('\n', out_);
    lineOpen_ = false;
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void ConsoleView::PrintInPlace(const std::string& line) {
    if (!terminal_) {
        PrintLine(line);
        return;
    }
    // Back to the line's start, the new text, clear what is left of the old one.
    std::fprintf(out_, "\r%s\x1b[K", line.c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

}  // namespace pelmo::ui
