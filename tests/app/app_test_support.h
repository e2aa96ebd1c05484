// Shared pieces of the engine tests: a recording notification target, a
// private settings store and a bounded wait for a run's end.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/notification_target.h"
#include "app/upgrade_engine.h"

namespace pelmo::testing {

class RecordingTarget : public NotificationTarget {
  public:
    void PostNotification(int code) override {
        std::lock_guard lock(mutex_);
        codes_.push_back(code);
        changed_.notify_all();
    }
    void ShowDownloadProgress(float bytesSoFar, float bytesExpected, float packageBytes,
                              int32_t bytesBefore) override {
        std::lock_guard lock(mutex_);
        progress_.push_back({bytesSoFar, bytesExpected, packageBytes, float(bytesBefore)});
    }
    std::vector<int> codes() const {
        std::lock_guard lock(mutex_);
        return codes_;
    }
    std::vector<std::vector<float>> progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> codes_;
    std::vector<std::vector<float>> progress_;
};

// A one-shot gate a step can wait at until the test opens it.
class Gate {
  public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void MarkReached() {
        std::lock_guard lock(mutex_);
        reached_ = true;
        changed_.notify_all();
    }
    bool WaitReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return reached_; });
    }
    void Pass() {
        MarkReached();
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool reached_ = false;
};

// Points the settings store and the named objects at a private folder.
class PrivateEnvironment {
  public:
    PrivateEnvironment() {
        char pattern[] = "/tmp/pelmo-app-test-XXXXXX";
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

// Waits (bounded) until no worker runs for engine.
inline bool WaitFinished(const UpgradeEngine& engine) {
    for (int i = 0; i < 1000; ++i) {
        if (engine.finished.load() == 1) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace pelmo::testing
