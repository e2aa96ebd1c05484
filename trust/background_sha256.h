// SHA-256 of data as it arrives, computed on a thread of its own: Update only
// copies the data into a bounded queue, so the thread that receives a download
// does not wait for the hash. Used for packages, whose hash must be known the
// moment the last byte is written without slowing the transfer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trust/sha256.h"

namespace pelmo::trust {

class BackgroundSha256 {
  public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // Waits only while more than the queue's limit is still unhashed.
    void Update(const void* data, std::size_t size);
    // Waits for the queue to drain; then as Sha256::FinishHex ("" also when
    // memory ran out on the way). Call once.
    std::string FinishHex();

  private:
    void Run();

    Sha256 hash_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> queue_;   // the back one still fills up
    std::vector<std::vector<char>> spare_;  // hashed blocks, kept for reuse
    std::size_t queuedBytes_ = 0;
    bool finishing_ = false;
    bool failed_ = false;
    std::thread worker_;  // not joinable when it could not be started: Update hashes itself
};

}  // namespace pelmo::trust
