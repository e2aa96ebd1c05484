#include "cabinet/writer/lzx_match_finder.h"

#include <algorithm>
#include <cstring>

namespace cab::lzx {

namespace {
constexpr uint32_t FRAME = 32768;
}

MatchFinder::MatchFinder(int windowBits, int maxChain, uint32_t niceLength)
    : windowSize_(1u << windowBits),
      maxDistance_((1u << windowBits) - 3),
      maxChain_(maxChain),
      niceLength_(niceLength),
      buffer_(2 * (1u << windowBits) + 2 * FRAME + SLACK, 0),
      head_(1u << HASH_BITS, -1),
      previous_(2 * (1u << windowBits) + 2 * FRAME, -1) {}

uint32_t MatchFinder::Hash(uint32_t pos) const {
    const uint8_t* p = buffer_.data() + pos;
    uint32_t value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                     static_cast<uint32_t>(p[2]) << 16;
    return (value * 2654435761u) >> (32 - HASH_BITS);
}

void MatchFinder::Slide() {
    // Keep one window of history; everything before it is out of reach.
    uint32_t drop = end_ - windowSize_;
    std::memmove(buffer_.data(), buffer_.data() + drop, windowSize_);
    std::memmove(previous_.data(), previous_.data() + drop, windowSize_ * sizeof(int32_t));
    auto shift = [drop](int32_t& link) {
        link = link >= static_cast<int32_t>(drop) ? link - static_cast<int32_t>(drop) : -1;
    };
    for (int32_t& link : head_) shift(link);
    for (uint32_t i = 0; i < windowSize_; ++i) shift(previous_[i]);
    end_ -= drop;
    inserted_ = inserted_ > drop ? inserted_ - drop : 0;
}

uint32_t MatchFinder::Append(const uint8_t* data, uint32_t size) {
    if (end_ + size + SLACK > buffer_.size()) Slide();
    std::memcpy(buffer_.data() + end_, data, size);
    uint32_t at = end_;
    end_ += size;
    std::memset(buffer_.data() + end_, 0, SLACK);
    return at;
}

void MatchFinder::InsertUpTo(uint32_t pos) {
    uint32_t limit = std::min(pos, end_ >= 2 ? end_ - 2 : 0);
    for (; inserted_ < limit; ++inserted_) {
        uint32_t h = Hash(inserted_);
        previous_[inserted_] = head_[h];
        head_[h] = static_cast<int32_t>(inserted_);
    }
}

uint32_t MatchFinder::CommonLength(uint32_t a, uint32_t b, uint32_t maxLength) const {
    const uint8_t* p = buffer_.data() + a;
    const uint8_t* q = buffer_.data() + b;
    uint32_t length = 0;
    while (length + 8 <= maxLength) {
        uint64_t x, y;
        std::memcpy(&x, p + length, 8);
        std::memcpy(&y, q + length, 8);
        if (x != y) return length + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        length += 8;
    }
    while (length < maxLength && p[length] == q[length]) ++length;
    return length;
}

uint32_t MatchFinder::Longest(uint32_t pos, uint32_t maxLength, uint32_t* distance) const {
    if (maxLength < 3 || pos + 2 >= end_) return 0;
    uint32_t best = 2;
    uint32_t bestDistance = 0;
    int32_t candidate = head_[Hash(pos)];
    const uint8_t* here = buffer_.data() + pos;
    for (int chain = maxChain_; candidate >= 0 && chain > 0; --chain) {
        uint32_t c = static_cast<uint32_t>(candidate);
        if (c >= pos) break;
        uint32_t d = pos - c;
        if (d > maxDistance_) break;
        const uint8_t* there = buffer_.data() + c;
        if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
            uint32_t length = CommonLength(c, pos, maxLength);
            if (length > best) {
                best = length;
                bestDistance = d;
                if (length >= niceLength_ || length == maxLength) break;
            }
        }
        candidate = previous_[c];
    }
    if (bestDistance == 0) return 0;
    *distance = bestDistance;
    return best;
}

}  // namespace cab::lzx
