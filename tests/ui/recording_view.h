// The tests' face of the upgrade dialog: records every call of UpgradeDialog,
// keeps the posted events until the test (the window thread) dispatches them,
// and a private settings store and runtime folder for each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// Points the settings store and the named objects at a private folder.
class PrivateEnvironment {
  public:
    PrivateEnvironment() {
        char pattern[] = "/tmp/pelmo-ui-test-XXXXXX";
        folder_ = mkdtemp(pattern);
        setenv("PELMO_REGISTRY", (folder_ + "/registry.db").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    }
    ~PrivateEnvironment() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
};

// A gate a step waits at until the test opens it (or the run is cancelled).
class Gate {
  public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Reach() {
        std::lock_guard lock(mutex_);
        reached_ = true;
        changed_.notify_all();
    }
    bool WaitReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return reached_; });
    }
    // Passes once opened or once stop() answers true; at most 10 s.
    void Pass(const std::function<bool()>& stop) {
        ++inside_;
        {
            Reach();
            std::unique_lock lock(mutex_);
            for (int i = 0; i < 1000 && !open_ && !stop(); ++i) {
                changed_.wait_for(lock, std::chrono::milliseconds(10));
            }
        }
        --inside_;
    }
    // A worker may still be leaving Pass when the test ends: let it out first.
    ~Gate() {
        Open();
        while (inside_.load() != 0) std::this_thread::yield();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::atomic<int> inside_{0};
    bool reached_ = false;
};

}  // namespace pelmo::ui::testing
