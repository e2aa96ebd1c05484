// A one-shot gate a worker waits at until the test opens it (or the worker's
// own stop condition holds), so that a test can act while a step is under way.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pelmo::testing {

class Gate {
  public:
    Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    // A worker may still be leaving Pass when the test ends: let it out first.
    ~Gate() {
        Open();
        while (inside_.load() != 0) std::this_thread::yield();
    }

    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // The test's side: true once a worker has reached the gate (at most 10 s).
    bool WaitReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return reached_; });
    }
    // The worker's side: marks the gate reached, then passes once it is
    // opened or once stop (when given) answers true; at most 10 s.
    void Pass(const std::function<bool()>& stop = nullptr) {
        ++inside_;
        {
            std::unique_lock lock(mutex_);
            reached_ = true;
            changed_.notify_all();
            for (int i = 0; i < 1000 && !open_ && !(stop && stop()); ++i) {
                changed_.wait_for(lock, std::chrono::milliseconds(10));
            }
        }
        --inside_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool reached_ = false;
    std::atomic<int> inside_{0};
};

}  // namespace pelmo::testing
