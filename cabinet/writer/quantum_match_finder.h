// Finds earlier occurrences of the bytes at a position of a Quantum folder,
// within the window, with hash chains over 3-byte prefixes. Positions count
// from the folder's first byte.
#pragma once

#include <cstdint>
#include <vector>

namespace cab {

struct QuantumMatchCandidates {
    uint32_t longLength = 0;  // longest match found (any distance in the window)
    uint32_t longDistance = 0;
    uint32_t distance4 = 0;  // nearest match of at least 4 bytes within reach of length 4
    uint32_t distance3 = 0;  // nearest match of at least 3 bytes within reach of length 3
};

class QuantumMatchFinder {
  public:
    explicit QuantumMatchFinder(uint32_t windowSize, int maxChain = 48);

    // Appends the folder's next bytes to the history.
    void Append(const uint8_t* data, uint32_t size);

    // Looks for matches for the bytes at `position`, at most `limit` long.
    // Every position before `position` is entered into the chains first.
    QuantumMatchCandidates Find(uint32_t position, uint32_t limit);

    const uint8_t* At(uint32_t position) const { return history_.data() + (position - base_); }
    uint32_t end() const { return base_ + static_cast<uint32_t>(history_.size()); }

  private:
    uint32_t Hash(uint32_t position) const;
    void InsertUpTo(uint32_t position);
    uint32_t MatchLength(uint32_t earlier, uint32_t position, uint32_t limit) const;

    uint32_t windowSize_;
    int maxChain_;
    int hashBits_;
    std::vector<uint8_t> history_;  // bytes from base_ to end()
    uint32_t base_ = 0;
    uint32_t inserted_ = 0;           // positions below this are in the chains
    std::vector<uint32_t> head_;      // per hash: last position + 1, 0 when none
    std::vector<uint32_t> previous_;  // per position (masked): earlier position + 1
    uint32_t previousMask_;
};

}  // namespace cab
