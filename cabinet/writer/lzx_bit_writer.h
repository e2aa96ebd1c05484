// Bit writer of the LZX encoder: bits are packed most significant first into
// 16-bit words stored little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cab::lzx {

// Owns its bytes so that a partly written frame can be copied to try
// alternative encodings of the next block.
class BitWriter {
  public:
    // Appends the low `bits` bits of `value` (0 to 32 bits).
    void Put(uint32_t value, int bits) {
        if (bits == 0) return;
        pending_ = pending_ << bits | (value & ((uint64_t{1} << bits) - 1));
        count_ += bits;
        while (count_ >= 16) {
            uint32_t word = static_cast<uint32_t>(pending_ >> (count_ - 16)) & 0xFFFF;
            out_.push_back(static_cast<uint8_t>(word));
            out_.push_back(static_cast<uint8_t>(word >> 8));
            count_ -= 16;
        }
    }

    // Completes the current word with zero bits (nothing when it is complete).
    void Flush() {
        if (count_ > 0) Put(0, 16 - count_);
    }

    // Ends the bit stream before raw bytes: the rest of the current word is
    // discarded by the reader, 1 to 16 bits, so a complete word gets a whole
    // word of padding.
    void AlignForRaw() { Put(0, 16 - count_); }

    void PutByte(uint8_t byte) { out_.push_back(byte); }
    void PutLe32(uint32_t value) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void PutBytes(const uint8_t* data, uint32_t size) {
        out_.insert(out_.end(), data, data + size);
    }

    size_t BitsWritten() const { return out_.size() * 8 + static_cast<size_t>(count_); }
    bool Aligned() const { return count_ == 0; }
    const std::vector<uint8_t>& Bytes() const { return out_; }

  private:
    std::vector<uint8_t> out_;
    uint64_t pending_ = 0;
    int count_ = 0;
};

}  // namespace cab::lzx
