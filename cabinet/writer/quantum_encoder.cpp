#include "cabinet/writer/quantum_encoder.h"

#include <algorithm>
#include <bit>
#include <memory>

#include "cabinet/cabinet.h"
#include "cabinet/cabinet_format.h"

namespace cab {
namespace {

// A block must fit the decoder's compressed buffer.
constexpr size_t MAX_COMPRESSED_BLOCK = MAX_BLOCK_SIZE + QUANTUM_INPUT_SLACK;

}  // namespace

uint32_t QuantumPositionSlot(uint32_t distance) {
    const uint32_t value = distance - 1;
    if (value < 4) return value;
    const int top = 31 - std::countl_zero(value);
    return 2 * static_cast<uint32_t>(top) + ((value >> (top - 1)) & 1);
}

uint32_t QuantumLengthSlot(uint32_t length) {
    const uint32_t value = length - QUANTUM_LONG_MATCH_MIN;
    uint32_t slot = 0;
    while (slot + 1 < QUANTUM_LENGTH_SLOTS && QUANTUM_SLOTS.lengthBase[slot + 1] <= value) ++slot;
    return slot;
}

QuantumEncoder::QuantumEncoder(int windowBits)
    : windowBits_(windowBits), finder_(1u << windowBits) {
    QuantumModelsInit(models_, windowBits);
}

uint16_t QuantumEncoder::CompressionType() const {
    return static_cast<uint16_t>(CAB_CODEC_QUANTUM | (windowBits_ << CAB_CODEC_WINDOW_SHIFT));
}

void QuantumEncoder::EncodeLiteral(uint8_t byte) {
    const uint32_t selector = byte >> 6;
    coder_.Encode(models_.selector, selector);
    coder_.Encode(models_.literal[selector], byte & 63u);
}

void QuantumEncoder::EncodeMatch(uint32_t length, uint32_t distance, QuantumEncoderStats& stats) {
    const uint32_t slot = QuantumPositionSlot(distance);
    const uint32_t extra = distance - 1 - QUANTUM_SLOTS.positionBase[slot];
    const int extraBits = QUANTUM_SLOTS.positionExtra[slot];
    if (length == 3) {
        coder_.Encode(models_.selector, 4);
        coder_.Encode(models_.position3, slot);
        ++stats.matches3;
        ++stats.positionSlots[0][slot];
    } else if (length == 4) {
        coder_.Encode(models_.selector, 5);
        coder_.Encode(models_.position4, slot);
        ++stats.matches4;
        ++stats.positionSlots[1][slot];
    } else {
        const uint32_t lengthSlot = QuantumLengthSlot(length);
        coder_.Encode(models_.selector, 6);
        coder_.Encode(models_.length, lengthSlot);
        coder_.PutRaw(length - QUANTUM_LONG_MATCH_MIN - QUANTUM_SLOTS.lengthBase[lengthSlot],
                      QUANTUM_SLOTS.lengthExtra[lengthSlot]);
        coder_.Encode(models_.positionLong, slot);
        ++stats.longMatches;
        ++stats.positionSlots[2][slot];
        ++stats.lengthSlots[lengthSlot];
    }
    coder_.PutRaw(extra, extraBits);
}

void QuantumEncoder::EncodeItems(uint32_t start, uint32_t size, bool useMatches,
                                 QuantumEncoderStats& stats) {
    const uint32_t end = start + size;
    uint32_t position = start;
    while (position < end) {
        const uint32_t limit = std::min(end - position, QUANTUM_LONG_MATCH_MAX);
        QuantumMatchCandidates found;
        if (useMatches) found = finder_.Find(position, limit);
        uint32_t length = 0;
        uint32_t distance = 0;
        if (found.longLength >= QUANTUM_LONG_MATCH_MIN) {
            length = found.longLength;
            distance = found.longDistance;
        } else if (found.distance4 != 0) {
            length = 4;
            distance = found.distance4;
        } else if (found.distance3 != 0) {
            length = 3;
            distance = found.distance3;
        }
        if (length == 0) {
            EncodeLiteral(*finder_.At(position));
            ++stats.literals;
            ++position;
        } else {
            EncodeMatch(length, distance, stats);
            position += length;
        }
    }
}

bool QuantumEncoder::EncodeFrame(const uint8_t* frame, uint32_t size, bool lastFrame,
                                 std::vector<uint8_t>& out) {
    (void)lastFrame;
    if (size > MAX_BLOCK_SIZE) return false;
    finder_.Append(frame, size);
    const QuantumModels saved = models_;
    std::vector<uint8_t> block;
    QuantumEncoderStats frameStats;
    coder_.Start();
    EncodeItems(position_, size, true, frameStats);
    coder_.Finish(block);
    if (block.size() > MAX_COMPRESSED_BLOCK) {
        // Matches that cost more than they save could in theory overflow the
        // block; literals alone cannot.
        models_ = saved;
        block.clear();
        frameStats = QuantumEncoderStats{};
        frameStats.literalOnlyRetries = 1;
        coder_.Start();
        EncodeItems(position_, size, false, frameStats);
        coder_.Finish(block);
        if (block.size() > MAX_COMPRESSED_BLOCK) return false;
    }
    position_ += size;
    out.insert(out.end(), block.begin(), block.end());
    stats_.literals += frameStats.literals;
    stats_.matches3 += frameStats.matches3;
    stats_.matches4 += frameStats.matches4;
    stats_.longMatches += frameStats.longMatches;
    stats_.literalOnlyRetries += frameStats.literalOnlyRetries;
    for (int kind = 0; kind < 3; ++kind) {
        for (int slot = 0; slot < QUANTUM_POSITION_SLOTS; ++slot) {
            stats_.positionSlots[kind][slot] += frameStats.positionSlots[kind][slot];
        }
    }
    for (int slot = 0; slot < QUANTUM_LENGTH_SLOTS; ++slot) {
        stats_.lengthSlots[slot] += frameStats.lengthSlots[slot];
    }
    return true;
}

std::unique_ptr<FolderEncoder> MakeQuantumEncoder(int windowBits) {
    if (windowBits < QUANTUM_MIN_WINDOW_BITS || windowBits > QUANTUM_MAX_WINDOW_BITS)
        return nullptr;
    return std::make_unique<QuantumEncoder>(windowBits);
}

}  // namespace cab
