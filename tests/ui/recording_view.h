// The tests' face of the upgrade dialog: records every call of UpgradeDialog,
// keeps the posted events until the test (the window thread) dispatches them;
// with it come the private environment and the gate the dialog tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/gate.h"
#include "tests/support/private_environment.h"
#include "ui/dialog_resources.h"
#include "ui/dialog_view.h"

namespace pelmo::ui::testing {

class RecordingView : public DialogView {
  public:
    // Thread-safe, like the real views.
    void PostToWindow(WindowEvent event) override {
        std::lock_guard lock(mutex_);
        if (ended) return;
        queue_.push_back(std::move(event));
        changed_.notify_all();
    }
    void SetEventHandler(WindowEventHandler* h) override { handler = h; }
    void SetTitle(const std::string& t) override { title = t, Record("title"); }
    void SetIcon() override { Record("icon"); }
    void SetControlText(int id, const std::string& text) override {
        texts[id] = text;
        Record("text " + std::to_string(id));
    }
    void SetProgressRange(int low, int high) override {
        rangeLow = low, rangeHigh = high;
        Record("range");
    }
    void SetProgressPos(int pos) override {
        position = pos;
        Record("pos " + std::to_string(pos));
    }
    int GetProgressPos() const override { return position; }
    void SetCheck(bool c) override {
        checked = c;
        Record(c ? "check 1" : "check 0");
    }
    bool GetCheck() const override { return checked; }
    void EnableUpgradeButton(bool e) override {
        upgradeEnabled = e;
        Record(e ? "enable" : "disable");
    }
    void Invalidate(bool erase) override {
        // The colours a real view would draw now.
        red.clear();
        for (int id = IDC_STEP1; id <= IDC_STEP5; ++id) {
            if (handler != nullptr && handler->StepLabelColour(id) == STEP_COLOUR_CURRENT) {
                red.push_back(id);
            }
        }
        Record(erase ? "invalidate erase" : "invalidate");
    }
    void MessageBox(const std::string& text) override {
        boxes.push_back(text);
        Record("box");
        if (onMessageBox) onMessageBox(text);
    }
    void KeepRepainting() override { ++repaints; }
    void EndDialog() override {
        std::lock_guard lock(mutex_);
        ended = true;
        queue_.clear();
        Record("end");
    }

    // Window thread: hands every queued event to the handler, waiting up to
    // the timeout for more until done() answers true.
    bool DispatchUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            WindowEvent event;
            {
                // Short waits: the end of a run (finished) comes without an event.
                std::unique_lock lock(mutex_);
                if (!changed_.wait_for(lock, std::chrono::milliseconds(5),
                                       [this] { return !queue_.empty(); })) {
                    continue;
                }
                event = std::move(queue_.front());
                queue_.pop_front();
            }
            if (handler != nullptr) handler->OnWindowEvent(event);
        }
        return true;
    }
    // Dispatches what is queued now.
    void DispatchQueued() {
        std::deque<WindowEvent> events;
        {
            std::lock_guard lock(mutex_);
            events.swap(queue_);
        }
        for (const auto& event : events) {
            if (handler != nullptr) handler->OnWindowEvent(event);
        }
    }
    std::vector<int> QueuedCodes() {
        std::lock_guard lock(mutex_);
        std::vector<int> codes;
        for (const auto& e : queue_) {
            if (e.kind == WindowEvent::Kind::Notification) codes.push_back(e.code);
        }
        return codes;
    }
    void ClearCalls() { calls.clear(); }

    WindowEventHandler* handler = nullptr;
    std::vector<std::string> calls;
    std::string title;
    std::map<int, std::string> texts;
    std::vector<std::string> boxes;
    std::vector<int> red;
    std::function<void(const std::string&)> onMessageBox;
    int rangeLow = -1, rangeHigh = -1;
    int position = -1;
    bool checked = false;
    bool upgradeEnabled = true;
    bool ended = false;
    int repaints = 0;

  private:
    void Record(std::string call) { calls.push_back(std::move(call)); }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<WindowEvent> queue_;
};

// The private settings store and the gate are the ones every test uses.
using pelmo::testing::Gate;
using pelmo::testing::PrivateEnvironment;

}  // namespace pelmo::ui::testing
