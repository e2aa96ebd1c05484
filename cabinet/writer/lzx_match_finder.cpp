#include "cabinet/writer/lzx_match_finder.h"

#include <algorithm>
#include <cstring>

namespace cab::lzx {

namespace {

constexpr uint32_t FRAME = 32768;
// A match this long visits only a quarter of the remaining candidates, and
// one of NICE_LENGTH ends the search.
constexpr uint32_t GOOD_LENGTH = 32;
constexpr uint32_t NICE_LENGTH = 128;
// Three-byte matches farther back seldom cost less than their literals.
constexpr uint32_t SHORT_MATCH_REACH = 8192;

uint32_t Load32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

int CeilLog2(int value) {
    int bits = 0;
    while ((1 << bits) < value) ++bits;
    return bits;
}

}  // namespace

MatchFinder::MatchFinder(int windowBits, int maxChain)
    : windowSize_(1u << windowBits),
      maxDistance_((1u << windowBits) - 3),
      maxChain_(maxChain),
      bucketBits_(CeilLog2(maxChain)),
      hash4Bits_(windowBits - bucketBits_),
      buffer_(2 * (1u << windowBits) + 2 * FRAME + SLACK, 0),
      head3_(1u << HASH3_BITS, -1),
      buckets_(1u << windowBits, -1),
      cursors_(1u << hash4Bits_, 0) {}

uint32_t MatchFinder::Hash3(uint32_t pos) const {
    return ((Load32(buffer_.data() + pos) & 0xFFFFFFu) * 2654435761u) >> (32 - HASH3_BITS);
}

uint32_t MatchFinder::Hash4(uint32_t pos) const {
    return (Load32(buffer_.data() + pos) * 2654435761u) >> (32 - hash4Bits_);
}

void MatchFinder::Slide() {
    // Keep one window of history; everything before it is out of reach.
    const uint32_t drop = end_ - windowSize_;
    std::memmove(buffer_.data(), buffer_.data() + drop, windowSize_);
    auto shift = [drop](int32_t& link) {
        link = link >= static_cast<int32_t>(drop) ? link - static_cast<int32_t>(drop) : -1;
    };
    for (int32_t& link : head3_) shift(link);
    for (int32_t& link : buckets_) shift(link);
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
    const uint32_t limit = std::min(pos, end_ >= 3 ? end_ - 3 : 0);
    const uint32_t slotMask = (1u << bucketBits_) - 1;
    for (; inserted_ < limit; ++inserted_) {
        head3_[Hash3(inserted_)] = static_cast<int32_t>(inserted_);
        const uint32_t h = Hash4(inserted_);
        const uint8_t slot = cursors_[h];
        buckets_[(static_cast<size_t>(h) << bucketBits_) | (slot & slotMask)] =
            static_cast<int32_t>(inserted_);
        cursors_[h] = static_cast<uint8_t>(slot + 1);
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

uint32_t MatchFinder::Longest(uint32_t pos, uint32_t maxLength, uint32_t shorter,
                              uint32_t* distance) const {
    if (maxLength < 3 || pos + 2 >= end_) return 0;
    uint32_t best = std::max<uint32_t>(shorter, 2);
    if (best >= maxLength) return 0;
    uint32_t bestDistance = 0;
    const uint8_t* data = buffer_.data();
    const uint8_t* here = data + pos;

    if (best < 3) {
        const int32_t near = head3_[Hash3(pos)];
        if (near >= 0 && static_cast<uint32_t>(near) < pos &&
            pos - static_cast<uint32_t>(near) <= SHORT_MATCH_REACH &&
            ((Load32(data + near) ^ Load32(here)) & 0xFFFFFFu) == 0) {
            best = CommonLength(static_cast<uint32_t>(near), pos, maxLength);
            bestDistance = pos - static_cast<uint32_t>(near);
            if (best >= NICE_LENGTH || best == maxLength) {
                *distance = bestDistance;
                return best;
            }
        }
    }

    const uint32_t h = Hash4(pos);
    // The next search is most often one position on: start loading its bucket.
    __builtin_prefetch(Bucket(Hash4(pos + 1)));
    const int32_t* bucket = Bucket(h);
    const uint32_t slotMask = (1u << bucketBits_) - 1;
    uint32_t slot = cursors_[h];
    int chain = best >= GOOD_LENGTH ? maxChain_ / 4 : maxChain_;
    // A longer match has the same first four bytes and the same four up to
    // and including the byte at `best`.
    const uint32_t first = Load32(here);
    uint32_t probe = best >= 3 ? best - 3 : 0;
    uint32_t tail = Load32(here + probe);
    while (chain-- > 0) {
        const int32_t candidate = bucket[--slot & slotMask];
        if (candidate < 0) break;
        const uint32_t c = static_cast<uint32_t>(candidate);
        if (c >= pos || pos - c > maxDistance_) break;  // the rest are older still
        const uint8_t* there = data + c;
        if (Load32(there + probe) != tail || Load32(there) != first) continue;
        const uint32_t length = CommonLength(c, pos, maxLength);
        if (length <= best) continue;
        if (best < GOOD_LENGTH && length >= GOOD_LENGTH) chain /= 4;
        best = length;
        bestDistance = pos - c;
        if (length >= NICE_LENGTH || length == maxLength) break;
        probe = best - 3;
        tail = Load32(here + probe);
    }
    if (bestDistance == 0) return 0;
    *distance = bestDistance;
    return best;
}

}  // namespace cab::lzx
