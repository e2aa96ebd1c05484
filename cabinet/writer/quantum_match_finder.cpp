#include "cabinet/writer/quantum_match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "cabinet/quantum_tables.h"

namespace cab {
namespace {
// Enough buckets that a window of random bytes leaves few collisions per chain.
int HashBitsFor(uint32_t windowSize) {
    int bits = std::bit_width(windowSize);
    return std::clamp(bits, 12, 20);
}
}  // namespace

QuantumMatchFinder::QuantumMatchFinder(uint32_t windowSize, int maxChain)
    : windowSize_(windowSize),
      maxChain_(maxChain),
      hashBits_(HashBitsFor(windowSize)),
      head_(size_t{1} << hashBits_, 0),
      previous_(2 * static_cast<size_t>(windowSize), 0),
      previousMask_(2 * windowSize - 1) {}

void QuantumMatchFinder::Append(const uint8_t* data, uint32_t size) {
    // Keep one window of history (and what is still to be hashed); drop the
    // rest now and then.
    const uint32_t keepFrom = std::min(end() > windowSize_ ? end() - windowSize_ : 0, inserted_);
    if (keepFrom > base_ && history_.size() > 2 * static_cast<size_t>(windowSize_) + 65536) {
        history_.erase(history_.begin(), history_.begin() + (keepFrom - base_));
        base_ = keepFrom;
    }
    history_.insert(history_.end(), data, data + size);
}

uint32_t QuantumMatchFinder::Hash(uint32_t position) const {
    const uint8_t* p = At(position);
    uint32_t key = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    return (key * 2654435761u) >> (32 - hashBits_);
}

void QuantumMatchFinder::InsertUpTo(uint32_t position) {
    const uint32_t last = end();
    for (; inserted_ < position && inserted_ + 3 <= last; ++inserted_) {
        uint32_t& head = head_[Hash(inserted_)];
        previous_[inserted_ & previousMask_] = head;
        head = inserted_ + 1;
    }
}

uint32_t QuantumMatchFinder::MatchLength(uint32_t earlier, uint32_t position,
                                         uint32_t limit) const {
    const uint8_t* a = At(earlier);
    const uint8_t* b = At(position);
    uint32_t length = 0;
    while (length + 8 <= limit) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (x != y) return length + static_cast<uint32_t>(std::countr_zero(x ^ y) / 8);
        length += 8;
    }
    while (length < limit && a[length] == b[length]) ++length;
    return length;
}

QuantumMatchCandidates QuantumMatchFinder::Find(uint32_t position, uint32_t limit) {
    QuantumMatchCandidates found;
    InsertUpTo(position);
    if (limit < 3 || position + 3 > end()) return found;
    const uint32_t reach3 = std::min(windowSize_, QUANTUM_LENGTH3_LIMIT);
    const uint32_t reach4 = std::min(windowSize_, QUANTUM_LENGTH4_LIMIT);
    uint32_t candidate = head_[Hash(position)];
    for (int chain = 0; candidate != 0 && chain < maxChain_; ++chain) {
        const uint32_t earlier = candidate - 1;
        const uint32_t distance = position - earlier;
        if (earlier >= position || distance > windowSize_ || earlier < base_) break;
        // Cheap rejections first: another prefix in the same bucket, or a match
        // that cannot beat the longest one so far.
        const uint8_t* a = At(earlier);
        const uint8_t* b = At(position);
        if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2] ||
            (found.longLength >= 3 && found.distance4 != 0 &&
             a[found.longLength] != b[found.longLength])) {
            const uint32_t next = previous_[earlier & previousMask_];
            if (next >= candidate) break;
            candidate = next;
            continue;
        }
        const uint32_t length = MatchLength(earlier, position, limit);
        if (length >= 3 && found.distance3 == 0 && distance <= reach3) found.distance3 = distance;
        if (length >= 4 && found.distance4 == 0 && distance <= reach4) found.distance4 = distance;
        if (length > found.longLength) {
            found.longLength = length;
            found.longDistance = distance;
            if (length == limit) break;
        }
        const uint32_t next = previous_[earlier & previousMask_];
        if (next >= candidate) break;  // the slot was reused by a newer position
        candidate = next;
    }
    return found;
}

}  // namespace cab
