// Reads a Quantum block's bytes most significant bit first. The arithmetic
// decoder and the raw extra bits of matches share this one stream. Reading past
// the block's end yields zero bits and is remembered: a block must carry every
// bit its decoder asks for.
#pragma once

#include <cstdint>
#include <cstring>

namespace cab {

class QuantumBitReader {
  public:
    QuantumBitReader(const uint8_t* input, uint32_t size) : next_(input), end_(input + size) {}

    // The next `count` bits (1 to 24) as a number, first bit most significant.
    uint32_t Read(int count) {
        if (bitCount_ < count) Refill();
        uint32_t value = static_cast<uint32_t>(buffer_ >> (64 - count));
        buffer_ <<= count;
        bitCount_ -= count;
        return value;
    }

    // True once a bit beyond the block's last byte has been consumed.
    bool Exhausted() const { return overrunBits_ > bitCount_; }

  private:
    void Refill() {
        if (end_ - next_ >= 8) {
            uint64_t word;
            std::memcpy(&word, next_, 8);
            word = __builtin_bswap64(word);
            buffer_ |= word >> bitCount_;
            next_ += (63 - bitCount_) >> 3;
            bitCount_ |= 56;
            return;
        }
        while (bitCount_ <= 56) {
            uint64_t byte = 0;
            if (next_ < end_) {
                byte = *next_++;
            } else {
                overrunBits_ += 8;
            }
            buffer_ |= byte << (56 - bitCount_);
            bitCount_ += 8;
        }
    }

    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t buffer_ = 0;  // unread bits, left-aligned
    int bitCount_ = 0;
    int overrunBits_ = 0;  // zero bits appended past the end
};

}  // namespace cab
