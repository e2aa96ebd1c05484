#include "tools/publish_progress.h"

#include <algorithm>

namespace pelmo::tools {

namespace {

constexpr int BAR_WIDTH = 30;

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

}  // namespace

std::int64_t PublishProgress::Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::size_t PublishProgress::Add(int32_t id, std::uint64_t totalBytes) {
    auto item = std::make_unique<Item>();
    item->id = id;
    item->total = totalBytes;
    items_.push_back(std::move(item));
    return items_.size() - 1;
}

std::string PublishProgress::Line(const Item& item) const {
    const int state = item.state.load();
    const std::uint64_t done = std::min(item.done.load(), item.total);
    const std::int64_t end = state >= 2 ? item.endedNs.load() : Now();
    const double seconds = state == 0 ? 0 : (end - item.startedNs.load()) / 1e9;
    const double rate = seconds > 0 ? done / seconds : 0;
    const double fraction = item.total == 0 ? 1.0 : static_cast<double>(done) / item.total;
    const int filled = state >= 2 ? BAR_WIDTH : static_cast<int>(fraction * BAR_WIDTH);
    const char* what = state == 0 ? "waiting" : state == 1 ? "" : state == 2 ? "built" : "FAILED";
    char line[200];
    std::snprintf(line, sizeof line, "%11d [%s%s] %s of %s  %s/s %s", item.id,
                  std::string(filled, '#').c_str(), std::string(BAR_WIDTH - filled, '.').c_str(),
                  Megabytes(done).c_str(), Megabytes(item.total).c_str(), Megabytes(rate).c_str(),
                  what);
    return line;
}

void PublishProgress::Started(std::size_t i) {
    Item& item = *items_[i];
    item.startedNs = Now();
    item.state = 1;
    if (!terminal_)
        std::fprintf(out_, "%d: building from %llu bytes\n", item.id,
                     static_cast<unsigned long long>(item.total));
}

void PublishProgress::Finished(std::size_t i, bool ok) {
    Item& item = *items_[i];
    item.endedNs = Now();
    item.state = ok ? 2 : 3;
    if (!terminal_ && ok) {
        const double seconds = (item.endedNs - item.startedNs) / 1e9;
        std::fprintf(out_, "%d: built in %.1f s (%s/s)\n", item.id, seconds,
                     Megabytes(seconds > 0 ? item.total / seconds : 0).c_str());
    }
}

void PublishProgress::Redraw() {
    if (!terminal_ || items_.empty()) return;
    std::string text;
    if (drawn_) text += "\033[" + std::to_string(items_.size()) + "A";
    for (const auto& item : items_) text += "\r\033[K" + Line(*item) + "\n";
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    drawn_ = true;
}

}  // namespace pelmo::tools
