// The cabinet writer's Quantum encoder: LZ77 items (literals and matches of 3,
// 4 and 5 to 259 bytes) coded with the same adaptive models the decoder keeps.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/quantum_model.h"
#include "cabinet/quantum_tables.h"
#include "cabinet/writer/folder_encoder.h"
#include "cabinet/writer/quantum_arithmetic_encoder.h"
#include "cabinet/writer/quantum_match_finder.h"

namespace cab {

// What the encoder has sent so far, for tests and tuning.
struct QuantumEncoderStats {
    uint64_t literals = 0;
    uint64_t matches3 = 0;
    uint64_t matches4 = 0;
    uint64_t longMatches = 0;
    uint64_t positionSlots[3][QUANTUM_POSITION_SLOTS] = {};  // length 3, length 4, longer
    uint64_t lengthSlots[QUANTUM_LENGTH_SLOTS] = {};
    uint64_t literalOnlyRetries = 0;  // frames sent again without matches to fit a block
};

class QuantumEncoder : public FolderEncoder {
  public:
    explicit QuantumEncoder(int windowBits);

    uint16_t CompressionType() const override;
    bool EncodeFrame(const uint8_t* frame, uint32_t size, bool lastFrame,
                     std::vector<uint8_t>& out) override;

    const QuantumEncoderStats& stats() const { return stats_; }
    const QuantumModels& models() const { return models_; }

  private:
    void EncodeItems(uint32_t start, uint32_t size, bool useMatches, QuantumEncoderStats& stats);
    void EncodeLiteral(uint8_t byte);
    void EncodeMatch(uint32_t length, uint32_t distance, QuantumEncoderStats& stats);

    int windowBits_;
    uint32_t position_ = 0;  // folder bytes coded so far
    QuantumModels models_;
    QuantumArithmeticEncoder coder_;
    QuantumMatchFinder finder_;
    QuantumEncoderStats stats_;
};

// The position slot of a match distance of 1 to 2^21.
uint32_t QuantumPositionSlot(uint32_t distance);
// The length slot of a long match of 5 to 259 bytes.
uint32_t QuantumLengthSlot(uint32_t length);

}  // namespace cab
