#include "cabinet/writer/quantum_arithmetic_encoder.h"

#include <cstddef>

namespace cab {

void QuantumArithmeticEncoder::Start() {
    low_ = 0;
    high_ = 0xFFFF;
    pending_ = 0;
    shifts_ = 0;
    codeBits_.clear();
    raw_.clear();
}

void QuantumArithmeticEncoder::EmitBit(uint8_t bit) {
    codeBits_.push_back(bit);
    for (; pending_ > 0; --pending_) codeBits_.push_back(bit ^ 1);
}

void QuantumArithmeticEncoder::Encode(QuantumModel& model, uint32_t symbol) {
    int index = 0;
    while (model.symbol[index] != symbol) ++index;
    const uint16_t* cumulative = model.cumulativeFrequency;
    const uint32_t range = high_ - low_ + 1;
    const uint32_t total = cumulative[0];
    const uint32_t base = low_;
    high_ = (base + (cumulative[index] * range) / total - 1) & 0xFFFF;
    low_ = (base + (cumulative[index + 1] * range) / total) & 0xFFFF;
    for (;;) {
        if (((low_ ^ high_) & 0x8000) == 0) {
            EmitBit(static_cast<uint8_t>(high_ >> 15));
            low_ = (low_ << 1) & 0xFFFF;
            high_ = ((high_ << 1) | 1) & 0xFFFF;
        } else if ((low_ & 0x4000) != 0 && (high_ & 0x4000) == 0) {
            ++pending_;
            low_ = (low_ & 0x3FFF) << 1;
            high_ = (((high_ | 0x4000) << 1) | 1) & 0xFFFF;
        } else {
            break;
        }
        ++shifts_;
    }
    QuantumModelUpdate(model, index);
}

void QuantumArithmeticEncoder::PutRaw(uint32_t value, int count) {
    if (count > 0) raw_.push_back({16 + shifts_, value, count});
}

void QuantumArithmeticEncoder::Finish(std::vector<uint8_t>& out) {
    // Settle the final interval: two more bits (plus the pending ones) name a
    // value inside it whatever follows.
    ++pending_;
    EmitBit((low_ & 0x4000) ? 1 : 0);
    // The decoder has read 16 code bits beyond its last shift.
    codeBits_.resize(16 + shifts_, 0);

    uint32_t accumulator = 0;
    int filled = 0;
    auto put = [&](uint32_t bit) {
        accumulator = (accumulator << 1) | bit;
        if (++filled == 8) {
            out.push_back(static_cast<uint8_t>(accumulator));
            accumulator = 0;
            filled = 0;
        }
    };
    std::size_t next = 0;
    for (const RawField& field : raw_) {
        for (; next < field.codeBitsBefore; ++next) put(codeBits_[next]);
        for (int bit = field.count - 1; bit >= 0; --bit) put((field.value >> bit) & 1);
    }
    for (; next < codeBits_.size(); ++next) put(codeBits_[next]);
    while (filled != 0) put(0);
}

}  // namespace cab
