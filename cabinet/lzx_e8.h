// Call translation of LZX frames: a 0xE8 byte (the x86 call opcode) is
// followed by a 32-bit operand that the compressor turned from a relative into
// an absolute target; decoding turns it back.
#pragma once

#include <cstdint>
#include <cstring>

namespace cab::lzx {

// The operand a decoder writes for `value` found at stream offset `at`.
inline uint32_t UntranslateOperand(uint32_t value, int64_t at, uint32_t translationSize) {
    if (value < translationSize) return value - static_cast<uint32_t>(at);
    int64_t signedValue = static_cast<int32_t>(value);
    if (signedValue < 0 && -signedValue <= at) return value + translationSize;
    return value;
}

// Undoes the translation of one frame of `length` bytes in place. `position`
// is the stream offset of the frame's first byte and advances by `length`.
// The last 6 bytes are never translated: they are set to 0xE8 during the scan,
// which stops it without a bounds test, and restored afterwards.
inline void TranslateCalls(uint8_t* frame, uint32_t length, int32_t translationSize,
                           int32_t& position) {
    if (length < 6) {
        position += static_cast<int32_t>(length);
        return;
    }
    uint8_t saved[6];
    uint8_t* tail = frame + length - 6;
    std::memcpy(saved, tail, 6);
    std::memset(tail, 0xE8, 6);
    const uint32_t size = static_cast<uint32_t>(translationSize);
    uint8_t* p = frame;
    for (;;) {
        p = static_cast<uint8_t*>(std::memchr(p, 0xE8, static_cast<size_t>(frame + length - p)));
        if (p == nullptr || p >= tail) break;
        int64_t at = static_cast<int64_t>(position) + (p - frame);
        uint32_t value;
        std::memcpy(&value, p + 1, 4);
        value = UntranslateOperand(value, at, size);
        std::memcpy(p + 1, &value, 4);
        p += 5;
    }
    std::memcpy(tail, saved, 6);
    position += static_cast<int32_t>(length);
}

}  // namespace cab::lzx
