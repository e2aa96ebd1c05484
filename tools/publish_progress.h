// Progress of the packages being built: on a terminal one bar per version
// with bytes and rate, redrawn in place; otherwise a plain line when a
// version starts and when it ends. Workers report, the main thread draws.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pelmo::tools {

class PublishProgress {
  public:
    PublishProgress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    // Adds a version to show; answers its index. Before the workers start.
    std::size_t Add(int32_t id, std::uint64_t totalBytes);
    // The counter a worker advances while compressing item i.
    std::atomic<std::uint64_t>& Counter(std::size_t i) { return items_[i]->done; }

    void Started(std::size_t i);
    void Finished(std::size_t i, bool ok);
    // Draws the bars again (terminal only). From the main thread.
    void Redraw();

  private:
    struct Item {
        int32_t id = 0;
        std::uint64_t total = 0;
        std::atomic<std::uint64_t> done{0};
        std::atomic<int> state{0};  // 0 waiting, 1 building, 2 built, 3 failed
        std::atomic<std::int64_t> startedNs{0};
        std::atomic<std::int64_t> endedNs{0};
    };
    static std::int64_t Now();
    std::string Line(const Item& item) const;

    std::FILE* out_;
    bool terminal_;
    std::vector<std::unique_ptr<Item>> items_;
    bool drawn_ = false;
};

}  // namespace pelmo::tools
