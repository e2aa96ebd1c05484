// Call translation on the compressing side: the operand after each 0xE8 byte
// is rewritten so that the decoder's translation gives back the original.
#pragma once

#include <cstdint>

namespace cab::lzx {

// Translates one frame of `length` bytes in place; `position` (the stream
// offset of the frame's first byte) advances by `length`. Answers false when
// some operand cannot be represented (the frame is then unusable).
bool TranslateCallsForward(uint8_t* frame, uint32_t length, uint32_t translationSize,
                           int32_t& position);

}  // namespace cab::lzx
