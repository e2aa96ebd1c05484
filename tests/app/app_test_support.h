// Shared pieces of the engine tests: a recording notification target, a
// bounded wait for a run's end and a whole run with a target attached (the
// private settings store and the gate come from tests/support).
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "app/notification_target.h"
#include "app/upgrade_engine.h"
#include "tests/support/gate.h"
#include "tests/support/private_environment.h"
#include "tests/support/wait_until.h"

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

// Waits (bounded) until no worker runs for engine.
inline bool WaitFinished(const UpgradeEngine& engine) {
    return WaitUntil([&engine] { return engine.finished.load() == 1; });
}

// Runs engine once with target attached and detaches it at the end; fails
// when the run does not start or does not end in time.
inline ::testing::AssertionResult RunToEnd(const std::shared_ptr<UpgradeEngine>& engine,
                                           RecordingTarget& target) {
    engine->AttachTarget(&target);
    if (!StartUpgradeThread(engine)) {
        engine->DetachTarget();
        return ::testing::AssertionFailure() << "the run did not start";
    }
    const bool finished = WaitFinished(*engine);
    engine->DetachTarget();
    if (!finished) return ::testing::AssertionFailure() << "the run did not end in time";
    return ::testing::AssertionSuccess();
}

}  // namespace pelmo::testing
