// Decodes the items of one Quantum block: the arithmetic decoder starts afresh
// for every block, while the models and the window carry over.
#pragma once

#include <bit>
#include <cstdint>

#include "cabinet/quantum_bit_reader.h"
#include "cabinet/quantum_model.h"
#include "cabinet/quantum_tables.h"

namespace cab {

// Exact division by a model's total (at most the rescale threshold) through a
// table of reciprocals: floor(0xFFFFFFFF / d) underestimates n / d by less than
// one for every n below 2^28, so one correction step makes the quotient exact.
struct QuantumReciprocals {
    uint32_t of[QUANTUM_RESCALE_THRESHOLD + 1];
};

inline constexpr QuantumReciprocals QUANTUM_RECIPROCALS = [] {
    QuantumReciprocals table{};
    for (uint32_t d = 1; d <= QUANTUM_RESCALE_THRESHOLD; ++d) table.of[d] = 0xFFFFFFFFu / d;
    return table;
}();

// n / d for n < 2^28 and 1 <= d <= QUANTUM_RESCALE_THRESHOLD.
inline uint32_t QuantumDivideByTotal(uint32_t n, uint32_t d) {
    uint32_t quotient =
        static_cast<uint32_t>((static_cast<uint64_t>(n) * QUANTUM_RECIPROCALS.of[d]) >> 32);
    if (n - quotient * d >= d) ++quotient;
    return quotient;
}

class QuantumArithmeticDecoder {
  public:
    explicit QuantumArithmeticDecoder(QuantumBitReader& bits) : bits_(bits) {
        code_ = bits_.Read(16);
    }

    // Decodes one symbol of `model` and credits it in the model.
    __attribute__((always_inline)) uint32_t Decode(QuantumModel& model) {
        const uint16_t* cumulative = model.cumulativeFrequency;
        const uint32_t range = high_ - low_ + 1;
        const uint32_t total = cumulative[0];
        const uint32_t target = ((code_ - low_ + 1) * total - 1) / range;
        const int index = QuantumModelSearch(model, target);
        const uint32_t symbol = model.symbol[index - 1];
        const uint32_t base = low_;
        // range <= 2^16 and frequencies below 2^12: products stay below 2^28.
        high_ = (base + QuantumDivideByTotal(cumulative[index - 1] * range, total) - 1) & 0xFFFF;
        low_ = (base + QuantumDivideByTotal(cumulative[index] * range, total)) & 0xFFFF;
        Renormalise();
        QuantumModelUpdate(model, index - 1);
        return symbol;
    }

  private:
    void Renormalise() {
        for (;;) {
            const uint32_t differ = low_ ^ high_;
            if ((differ & 0x8000) == 0) {
                // Leading bits on which low and high agree leave all at once;
                // afterwards their top bits differ.
                const int count = std::countl_zero(static_cast<uint16_t>(differ));
                low_ = (low_ << count) & 0xFFFF;
                high_ = ((high_ << count) | ((1u << count) - 1)) & 0xFFFF;
                code_ = ((code_ << count) | bits_.Read(count)) & 0xFFFF;
            }
            // Go on only when low has bit 14 set and high has it clear.
            if ((low_ & ~high_ & 0x4000) == 0) return;
            code_ ^= 0x4000;
            low_ = (low_ & 0x3FFF) << 1;
            high_ = (((high_ | 0x4000) << 1) | 1) & 0xFFFF;
            code_ = ((code_ << 1) | bits_.Read(1)) & 0xFFFF;
        }
    }

    QuantumBitReader& bits_;
    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t code_ = 0;
};

// Decodes exactly `outputSize` bytes into `output` and `window`. False when the
// block lacks bits, a match runs past the block's end or the window fails.
template <class Window>
bool QuantumDecodeBlock(QuantumModels& models, Window& window, const uint8_t* input,
                        uint32_t inputSize, uint8_t* output, uint32_t outputSize) {
    QuantumBitReader bits(input, inputSize);
    QuantumArithmeticDecoder coder(bits);
    uint32_t remaining = outputSize;
    while (remaining > 0 && !bits.Exhausted()) {
        const uint32_t selector = coder.Decode(models.selector);
        if (selector < 4) {
            const auto byte =
                static_cast<uint8_t>(coder.Decode(models.literal[selector]) + 64 * selector);
            if (!window.PutByte(byte)) return false;
            *output++ = byte;
            --remaining;
            continue;
        }
        uint32_t length;
        uint32_t slot;
        if (selector == 4) {
            length = 3;
            slot = coder.Decode(models.position3);
        } else if (selector == 5) {
            length = 4;
            slot = coder.Decode(models.position4);
        } else {
            const uint32_t lengthSlot = coder.Decode(models.length);
            length = QUANTUM_SLOTS.lengthBase[lengthSlot] + QUANTUM_LONG_MATCH_MIN;
            if (const int extra = QUANTUM_SLOTS.lengthExtra[lengthSlot]) length += bits.Read(extra);
            slot = coder.Decode(models.positionLong);
        }
        uint32_t distance = QUANTUM_SLOTS.positionBase[slot] + 1;
        if (const int extra = QUANTUM_SLOTS.positionExtra[slot]) distance += bits.Read(extra);
        if (length > remaining) return false;
        if (!window.CopyMatch(distance, length, output)) return false;
        output += length;
        remaining -= length;
    }
    return !bits.Exhausted();
}

}  // namespace cab
