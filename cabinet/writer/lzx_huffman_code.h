// Huffman codes for the LZX encoder: code lengths from symbol frequencies,
// limited in length, and the canonical codes the decoder derives from them.
#pragma once

#include <cstdint>

namespace cab::lzx {

// Code lengths (at most maxLength) for `count` symbols. Unused symbols get 0.
// The code always fills the code space exactly: a single used symbol is given
// a partner so that two codes of length 1 exist; no used symbol at all gives
// all zeros.
void BuildCodeLengths(const uint32_t* frequencies, int count, int maxLength, uint8_t* lengths);

// Canonical codes: ordered by length, then by symbol.
void BuildCodes(const uint8_t* lengths, int count, uint16_t* codes);

}  // namespace cab::lzx
