// Match finder of the LZX encoder: hash chains over the folder's history.
//
// The history keeps at least one window of bytes before the frame being
// encoded; positions are indexes into it and shift down when old bytes are
// dropped (Append answers where the new frame landed).
#pragma once

#include <cstdint>
#include <vector>

namespace cab::lzx {

class MatchFinder {
  public:
    MatchFinder(int windowBits, int maxChain, uint32_t niceLength);

    // Appends a frame and answers its position. The bytes may be changed in
    // place (call translation) before any position in them is searched.
    uint32_t Append(const uint8_t* data, uint32_t size);

    uint8_t* Data() { return buffer_.data(); }
    const uint8_t* Data() const { return buffer_.data(); }
    uint32_t End() const { return end_; }

    // Adds every position before `pos` to the chains (those that have three
    // bytes after them).
    void InsertUpTo(uint32_t pos);

    // Longest match of at least 3 bytes at `pos` not longer than maxLength, at
    // most maxDistance back. Answers 0 when there is none.
    uint32_t Longest(uint32_t pos, uint32_t maxLength, uint32_t* distance) const;

    // Length of the match at `pos` with `distance`, 0 when the source would lie
    // before the folder's first byte.
    uint32_t LengthAt(uint32_t pos, uint32_t distance, uint32_t maxLength) const {
        if (distance == 0 || distance > pos) return 0;
        return CommonLength(pos - distance, pos, maxLength);
    }

    uint32_t MaxDistance() const { return maxDistance_; }

  private:
    uint32_t CommonLength(uint32_t a, uint32_t b, uint32_t maxLength) const;
    uint32_t Hash(uint32_t pos) const;
    void Slide();

    static constexpr int HASH_BITS = 17;
    static constexpr uint32_t SLACK = 16;  // room for reads by 8 bytes
    uint32_t windowSize_;
    uint32_t maxDistance_;
    int maxChain_;
    uint32_t niceLength_;
    std::vector<uint8_t> buffer_;
    std::vector<int32_t> head_;
    std::vector<int32_t> previous_;
    uint32_t end_ = 0;
    uint32_t inserted_ = 0;
};

}  // namespace cab::lzx
