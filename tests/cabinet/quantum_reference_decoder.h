// A second, deliberately plain Quantum decoder for the tests: 32-bit model
// pairs, a linear symbol search, one bit at a time and one byte at a time, no
// shared code with the library. The fast decoder must agree with it on every
// stream, valid or not.
#pragma once

#include <cstdint>
#include <vector>

namespace cab::quantum_test {

class ReferenceQuantumDecoder {
  public:
    explicit ReferenceQuantumDecoder(int windowBits) : windowBits_(windowBits) {
        window_.assign(size_t{1} << windowBits, 0);
        InitModels();
        int base = 0;
        for (int slot = 0; slot < 42; ++slot) {
            positionExtra_[slot] = slot < 4 ? 0 : slot / 2 - 1;
            positionBase_[slot] = base;
            base += 1 << positionExtra_[slot];
        }
        static const int LENGTH_EXTRA[27] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                             3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        base = 0;
        for (int slot = 0; slot < 27; ++slot) {
            lengthExtra_[slot] = LENGTH_EXTRA[slot];
            lengthBase_[slot] = base;
            base += 1 << LENGTH_EXTRA[slot];
        }
    }

    int positionModelEntries(int which) const { return models_[8 + which].entries; }

    // Decodes one block of exactly `outputSize` bytes; false on any failure.
    bool Decode(const uint8_t* input, uint32_t inputSize, uint32_t outputSize,
                std::vector<uint8_t>& output) {
        output.clear();
        input_ = input;
        inputRemaining_ = inputSize;
        bitsLeft_ = 0;
        inputExhausted_ = false;
        bool matchOverrun = false;
        low_ = 0;
        high_ = 0xFFFF;
        code_ = 0;
        for (int i = 0; i < 16; ++i) code_ = (code_ << 1) | Bit();
        uint32_t remaining = outputSize;
        while (remaining > 0 && !inputExhausted_) {
            int selector = Symbol(models_[0]);
            if (selector < 4) {
                Put(static_cast<uint8_t>(Symbol(models_[1 + selector]) + 64 * selector), output);
                --remaining;
                continue;
            }
            int length;
            int slot;
            if (selector == 4) {
                length = 3;
                slot = Symbol(models_[8]);
            } else if (selector == 5) {
                length = 4;
                slot = Symbol(models_[9]);
            } else {
                int lengthSlot = Symbol(models_[5]);
                length = lengthBase_[lengthSlot] + Bits(lengthExtra_[lengthSlot]) + 5;
                slot = Symbol(models_[10]);
            }
            uint32_t distance = positionBase_[slot] + Bits(positionExtra_[slot]) + 1;
            if (static_cast<uint32_t>(length) > remaining) {
                matchOverrun = true;
                remaining = 0;
                break;
            }
            uint32_t mask = static_cast<uint32_t>(window_.size() - 1);
            for (int i = 0; i < length; ++i) {
                Put(window_[(windowPosition_ - distance) & mask], output);
            }
            remaining -= length;
        }
        return !inputExhausted_ && !matchOverrun;
    }

  private:
    struct Model {
        int entries;
        int shiftsLeft;
        std::vector<uint32_t> cumulative;
        std::vector<uint32_t> symbol;
    };

    void InitModel(Model& model, int entries) {
        model.entries = entries;
        model.shiftsLeft = 4;
        model.cumulative.resize(entries + 1);
        model.symbol.resize(entries + 1);
        for (int i = 0; i <= entries; ++i) {
            model.cumulative[i] = entries - i;
            model.symbol[i] = i;
        }
    }

    int SlotsBelow(uint32_t limit) const {
        int count = 0;
        uint32_t base = 0;
        for (int slot = 0; slot < 42; ++slot) {
            if (base < limit) ++count;
            base += 1u << (slot < 4 ? 0 : slot / 2 - 1);
        }
        return count;
    }

    // Model order: selector, literals 0-3, length, (unused 6, 7), positions for
    // lengths 3, 4 and longer.
    void InitModels() {
        uint32_t windowSize = 1u << windowBits_;
        InitModel(models_[0], 7);
        for (int i = 1; i <= 4; ++i) InitModel(models_[i], 64);
        InitModel(models_[5], 27);
        InitModel(models_[8], SlotsBelow(windowSize < 4096 ? windowSize : 4096));
        InitModel(models_[9], SlotsBelow(windowSize < 262144 ? windowSize : 262144));
        InitModel(models_[10], SlotsBelow(windowSize));
    }

    uint32_t Bit() {
        if (bitsLeft_ == 0) {
            if (inputRemaining_ == 0) {
                inputExhausted_ = true;
                return 0;
            }
            currentByte_ = *input_++;
            --inputRemaining_;
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        return (currentByte_ >> bitsLeft_) & 1;
    }

    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
        return value;
    }

    void Put(uint8_t byte, std::vector<uint8_t>& output) {
        uint32_t mask = static_cast<uint32_t>(window_.size() - 1);
        window_[windowPosition_ & mask] = byte;
        ++windowPosition_;
        output.push_back(byte);
    }

    void Rescale(Model& m) {
        if (--m.shiftsLeft) {
            for (int i = m.entries - 1; i >= 0; --i) {
                m.cumulative[i] >>= 1;
                if (m.cumulative[i] <= m.cumulative[i + 1])
                    m.cumulative[i] = m.cumulative[i + 1] + 1;
            }
            return;
        }
        m.shiftsLeft = 50;
        for (int i = 0; i < m.entries; ++i) {
            m.cumulative[i] = (m.cumulative[i] - m.cumulative[i + 1] + 1) >> 1;
        }
        for (int i = 0; i < m.entries - 1; ++i) {
            for (int j = i + 1; j < m.entries; ++j) {
                if (m.cumulative[i] < m.cumulative[j]) {
                    std::swap(m.cumulative[i], m.cumulative[j]);
                    std::swap(m.symbol[i], m.symbol[j]);
                }
            }
        }
        for (int i = m.entries - 1; i >= 0; --i) m.cumulative[i] += m.cumulative[i + 1];
    }

    int Symbol(Model& m) {
        uint32_t range = high_ - low_ + 1;
        uint32_t f = ((code_ - low_ + 1) * m.cumulative[0] - 1) / range;
        int i = 1;
        while (m.cumulative[i] > f) ++i;
        int symbol = static_cast<int>(m.symbol[i - 1]);
        uint32_t oldLow = low_;
        high_ = (oldLow + (m.cumulative[i - 1] * range) / m.cumulative[0] - 1) & 0xFFFF;
        low_ = (oldLow + (m.cumulative[i] * range) / m.cumulative[0]) & 0xFFFF;
        for (;;) {
            if ((low_ & 0x8000) != (high_ & 0x8000)) {
                if ((low_ & 0x4000) && !(high_ & 0x4000)) {
                    code_ ^= 0x4000;
                    low_ &= 0x3FFF;
                    high_ |= 0x4000;
                } else {
                    break;
                }
            }
            low_ = (low_ << 1) & 0xFFFF;
            high_ = ((high_ << 1) | 1) & 0xFFFF;
            code_ = ((code_ << 1) | Bit()) & 0xFFFF;
        }
        for (int j = 0; j < i; ++j) m.cumulative[j] += 8;
        if (m.cumulative[0] > 3800) Rescale(m);
        return symbol;
    }

    int windowBits_;
    std::vector<uint8_t> window_;
    uint32_t windowPosition_ = 0;
    Model models_[11];
    int positionBase_[42];
    int positionExtra_[42];
    int lengthBase_[27];
    int lengthExtra_[27];
    const uint8_t* input_ = nullptr;
    uint32_t inputRemaining_ = 0;
    uint32_t currentByte_ = 0;
    int bitsLeft_ = 0;
    bool inputExhausted_ = false;
    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t code_ = 0;
};

}  // namespace cab::quantum_test
