#include "cabinet/writer/lzx_call_translation.h"

#include <cstring>
#include <vector>

#include "cabinet/lzx_e8.h"

namespace cab::lzx {

bool TranslateCallsForward(uint8_t* frame, uint32_t length, uint32_t translationSize,
                           int32_t& position) {
    const int32_t start = position;
    if (length < 6) {
        position += static_cast<int32_t>(length);
        return true;
    }
    std::vector<uint8_t> original(frame, frame + length);
    // The decoder scans offsets below length - 6; operand bytes from there on
    // are its sentinel (0xE8) and whatever it writes there is thrown away.
    const uint32_t scanEnd = length - 6;
    for (uint32_t i = 0; i < scanEnd;) {
        if (frame[i] != 0xE8) {
            ++i;
            continue;
        }
        const int64_t at = static_cast<int64_t>(start) + i;
        uint32_t real = scanEnd - (i + 1) < 4 ? scanEnd - (i + 1) : 4;  // operand bytes kept
        uint32_t wanted = 0;
        for (uint32_t k = 0; k < real; ++k)
            wanted |= static_cast<uint32_t>(frame[i + 1 + k]) << (8 * k);
        const uint32_t mask = real == 4 ? 0xFFFFFFFFu : (1u << (8 * real)) - 1;
        const uint32_t sentinel = 0xE8E8E8E8u & ~mask;
        const uint32_t candidates[3] = {wanted + static_cast<uint32_t>(at),
                                        wanted - translationSize, wanted};
        bool found = false;
        for (uint32_t candidate : candidates) {
            uint32_t stored = (candidate & mask) | sentinel;
            if ((UntranslateOperand(stored, at, translationSize) & mask) == wanted) {
                for (uint32_t k = 0; k < real; ++k) {
                    frame[i + 1 + k] = static_cast<uint8_t>(candidate >> (8 * k));
                }
                found = true;
                break;
            }
        }
        if (!found) return false;
        i += 5;
    }
    // Check against the decoder's own translation.
    std::vector<uint8_t> check(frame, frame + length);
    int32_t checkPosition = start;
    TranslateCalls(check.data(), length, static_cast<int32_t>(translationSize), checkPosition);
    position = checkPosition;
    return check == original;
}

}  // namespace cab::lzx
