// Match finder of the LZX encoder over the folder's history.
//
// The history keeps at least one window of bytes before the frame being
// encoded; positions are indexes into it and shift down when old bytes are
// dropped (Append answers where the new frame landed).
//
// Each hash of four bytes owns a bucket of its latest positions, filled in a
// ring: a search reads them side by side, where a chain would have to be
// walked one dependent load at a time, and all buckets together hold one
// window's worth of positions. A small table keeps the latest position of
// each three-byte hash, for the short matches that only pay off close by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cab::lzx {

class MatchFinder {
  public:
    // maxChain (1 to 256) is the number of candidates a search visits at most.
    MatchFinder(int windowBits, int maxChain);

    // Appends a frame and answers its position. The bytes may be changed in
    // place (call translation) before any position in them is searched.
    uint32_t Append(const uint8_t* data, uint32_t size);

    uint8_t* Data() { return buffer_.data(); }
    const uint8_t* Data() const { return buffer_.data(); }
    uint32_t End() const { return end_; }

    // Adds every position before `pos` that has four bytes from it on.
    void InsertUpTo(uint32_t pos);

    // Longest match at `pos` longer than `shorter` (and of at least 3 bytes),
    // not longer than maxLength, at most MaxDistance() back; the nearest of
    // equally long ones. Answers 0 when there is none.
    uint32_t Longest(uint32_t pos, uint32_t maxLength, uint32_t shorter, uint32_t* distance) const;

    // Length of the match at `pos` with `distance`, 0 when the source would lie
    // before the folder's first byte.
    uint32_t LengthAt(uint32_t pos, uint32_t distance, uint32_t maxLength) const {
        if (distance == 0 || distance > pos) return 0;
        return CommonLength(pos - distance, pos, maxLength);
    }

    uint32_t MaxDistance() const { return maxDistance_; }

  private:
    uint32_t CommonLength(uint32_t a, uint32_t b, uint32_t maxLength) const;
    uint32_t Hash3(uint32_t pos) const;
    uint32_t Hash4(uint32_t pos) const;
    const int32_t* Bucket(uint32_t hash) const {
        return buckets_.data() + (static_cast<size_t>(hash) << bucketBits_);
    }
    void Slide();

    static constexpr int HASH3_BITS = 14;
    static constexpr uint32_t SLACK = 16;  // room for reads by 8 bytes
    uint32_t windowSize_;
    uint32_t maxDistance_;
    int maxChain_;
    int bucketBits_;  // log2 of the positions a bucket holds
    int hash4Bits_;
    std::vector<uint8_t> buffer_;
    std::vector<int32_t> head3_;
    std::vector<int32_t> buckets_;   // -1 where no position is
    std::vector<uint8_t> cursors_;   // per bucket: the slot the next position takes
    uint32_t end_ = 0;
    uint32_t inserted_ = 0;
};

}  // namespace cab::lzx
