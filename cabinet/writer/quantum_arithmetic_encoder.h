// The arithmetic coder of a Quantum block, mirror image of the decoder's.
//
// The decoder reads the coder's bits and the raw extra bits of matches from one
// stream, always 16 code bits ahead of the symbol it is decoding. The coder's
// own bits are only settled later (after pending underflow bits resolve), so
// the block is assembled at the end: every raw field is placed behind the code
// bit the decoder will have read when it asks for that field.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/quantum_model.h"

namespace cab {

class QuantumArithmeticEncoder {
  public:
    // Starts a new block.
    void Start();

    // Codes `symbol` with `model` and credits it in the model, as the decoder will.
    void Encode(QuantumModel& model, uint32_t symbol);

    // Sends `count` (0 to 24) raw bits of `value`, most significant first.
    void PutRaw(uint32_t value, int count);

    // Ends the block, appending its bytes to `out`: every bit the decoder will
    // read is present, nothing more except the padding of the last byte.
    void Finish(std::vector<uint8_t>& out);

  private:
    struct RawField {
        uint32_t codeBitsBefore;
        uint32_t value;
        int count;
    };

    void EmitBit(uint8_t bit);

    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t pending_ = 0;  // underflow bits waiting for the next settled bit
    uint32_t shifts_ = 0;   // code bits the decoder has shifted in so far
    std::vector<uint8_t> codeBits_;
    std::vector<RawField> raw_;
};

}  // namespace cab
