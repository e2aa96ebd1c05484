#include "trust/background_sha256.h"

#include <system_error>

namespace pelmo::trust {
namespace {

// Pieces are gathered into blocks of this size; at most this many blocks wait.
constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20;
constexpr std::size_t MAX_QUEUED_BYTES = 16 * BLOCK_BYTES;

}  // namespace

BackgroundSha256::BackgroundSha256() {
    try {
        worker_ = std::thread(&BackgroundSha256::Run, this);
    } catch (const std::system_error&) {
        // No thread: Update hashes on the caller's thread.
    }
}

BackgroundSha256::~BackgroundSha256() {
    if (!worker_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void BackgroundSha256::Update(const void* data, std::size_t size) {
    if (!worker_.joinable()) {
        hash_.Update(data, size);
        return;
    }
    const char* bytes = static_cast<const char*>(data);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queuedBytes_ < MAX_QUEUED_BYTES; });
    try {
        // The worker takes blocks out under the lock, so any block still
        // queued may grow. Blocks are reused rather than allocated anew.
        if (queue_.empty() || queue_.back().size() + size > BLOCK_BYTES) {
            if (spare_.empty()) {
                queue_.emplace_back().reserve(BLOCK_BYTES);
            } else {
                queue_.push_back(std::move(spare_.back()));
                spare_.pop_back();
            }
        }
        queue_.back().insert(queue_.back().end(), bytes, bytes + size);
        queuedBytes_ += size;
    } catch (...) {
        // Out of memory: the hash can no longer be right, and says so.
        failed_ = true;
    }
    lock.unlock();
    changed_.notify_all();
}

void BackgroundSha256::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
        if (queue_.empty()) return;
        std::vector<char> block = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        hash_.Update(block.data(), block.size());
        lock.lock();
        queuedBytes_ -= block.size();
        block.clear();
        spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

std::string BackgroundSha256::FinishHex() {
    if (worker_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            finishing_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    const std::string hex = hash_.FinishHex();
    return failed_ ? std::string() : hex;
}

}  // namespace pelmo::trust
