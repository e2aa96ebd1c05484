// LZX encoder: one cabinet data block per frame of at most 32768 bytes.
//
// Each block's type is chosen by trying the candidates: verbatim and aligned
// blocks with trees made for the frame's literals and matches, and an
// uncompressed block for stretches that do not compress.
#include "cabinet/writer/lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "cabinet/cabinet.h"
#include "cabinet/cabinet_format.h"
#include "cabinet/lzx_format.h"
#include "cabinet/writer/lzx_bit_writer.h"
#include "cabinet/writer/lzx_block_writer.h"
#include "cabinet/writer/lzx_call_translation.h"
#include "cabinet/writer/lzx_match_finder.h"
#include "cabinet/writer/lzx_parser.h"

namespace cab {
namespace {

using namespace lzx;

constexpr uint32_t MAX_COMPRESSED_FRAME =
    MAX_BLOCK_SIZE + LZX_INPUT_SLACK;  // the decoder's input buffer
constexpr uint32_t TRANSLATION_SIZE = 32u << 20;
// A block spanning frames must keep literals short enough that any later frame
// still fits the decoder's input buffer when coded with its trees.
constexpr uint8_t SPANNING_LITERAL_LIMIT = 9;

class LzxEncoder final : public FolderEncoder {
  public:
    explicit LzxEncoder(const LzxEncoderOptions& options)
        : options_(options),
          finder_(options.windowBits, options.maxChain),
          mainElements_(NUM_CHARS + 8 * PositionSlots(options.windowBits)) {}

    uint16_t CompressionType() const override {
        return static_cast<uint16_t>(CAB_CODEC_LZX | options_.windowBits << CAB_CODEC_WINDOW_SHIFT);
    }

    bool EncodeFrame(const uint8_t* frame, uint32_t size, bool lastFrame,
                     std::vector<uint8_t>& out) override {
        if (size > MAX_BLOCK_SIZE) return false;
        const uint32_t start = finder_.Append(frame, size);
        if (options_.translateE8 && framesDone_ < TRANSLATED_FRAMES) {
            if (!TranslateCallsForward(finder_.Data() + start, size, TRANSLATION_SIZE,
                                       translationPosition_)) {
                return false;
            }
        }
        ++framesDone_;

        BitWriter writer;
        if (padPending_) {
            writer.PutByte(0);
            padPending_ = false;
        }
        uint32_t pos = start;
        const uint32_t end = start + size;
        while (pos < end) {
            pos = blockRemaining_ > 0 ? ContinueBlock(writer, pos, end, lastFrame)
                                      : StartBlock(writer, pos, end, lastFrame);
        }
        writer.Flush();
        const std::vector<uint8_t>& bytes = writer.Bytes();
        if (bytes.size() > MAX_COMPRESSED_FRAME) return false;
        out.insert(out.end(), bytes.begin(), bytes.end());
        return true;
    }

  private:
    void WriteBlockHeader(BitWriter& writer, int type, uint32_t size) {
        if (!streamStarted_) {
            writer.Put(options_.translateE8 ? 1 : 0, 1);
            if (options_.translateE8) {
                writer.Put(TRANSLATION_SIZE >> 16, 16);
                writer.Put(TRANSLATION_SIZE & 0xFFFF, 16);
            }
        }
        writer.Put(static_cast<uint32_t>(type), 3);
        writer.Put(size, 24);
    }

    void WriteRaw(BitWriter& writer, uint32_t pos, uint32_t span, bool blockEnds, bool frameEnds,
                  bool lastFrame) {
        writer.PutBytes(finder_.Data() + pos, span);
        if (blockEnds && (blockSize_ & 1)) {
            // The padding byte goes where the decoder looks for it: before the
            // next block header, which may be in the next frame.
            if (frameEnds && !lastFrame) {
                padPending_ = true;
            } else {
                writer.PutByte(0);
            }
        }
    }

    uint32_t StartBlock(BitWriter& writer, uint32_t pos, uint32_t end, bool lastFrame) {
        const uint32_t span = end - pos;
        const RepeatedOffsets startReps = reps_;
        RepeatedOffsets parsedReps = reps_;
        std::vector<Item> items;
        const int forced = options_.forcedBlockType;
        if (forced != BLOCK_UNCOMPRESSED) Parse(finder_, pos, end, parsedReps, model_, items);
        SymbolCounts counts;
        counts.Add(items);

        std::optional<BitWriter> best;
        int bestType = 0;
        uint32_t bestSize = span;

        bool spanning = options_.blockFrames > 1 && !lastFrame && span == MAX_BLOCK_SIZE;
        Trees trees;
        if (forced != BLOCK_UNCOMPRESSED) {
            BuildTrees(counts, mainElements_, spanning, trees);
            if (spanning && *std::max_element(trees.mainLengths, trees.mainLengths + NUM_CHARS) >
                                SPANNING_LITERAL_LIMIT) {
                spanning = false;
                BuildTrees(counts, mainElements_, false, trees);
            }
        }
        const uint32_t blockSize =
            spanning ? span + static_cast<uint32_t>(options_.blockFrames - 1) * MAX_BLOCK_SIZE
                     : span;

        for (int type : {BLOCK_VERBATIM, BLOCK_ALIGNED, BLOCK_UNCOMPRESSED}) {
            if (forced != 0 && type != forced) continue;
            BitWriter candidate = writer;
            if (type == BLOCK_UNCOMPRESSED) {
                WriteBlockHeader(candidate, type, span);
                candidate.AlignForRaw();
                for (uint32_t r : startReps.r) candidate.PutLe32(r);
                blockSize_ = span;
                WriteRaw(candidate, pos, span, true, true, lastFrame);
                padPending_ = false;  // settled below for the chosen candidate
            } else {
                WriteBlockHeader(candidate, type, blockSize);
                WriteTrees(candidate, trees, previousMain_, previousLength_, type == BLOCK_ALIGNED);
                WriteItems(candidate, items, trees, type == BLOCK_ALIGNED);
            }
            if (!best || candidate.BitsWritten() < best->BitsWritten()) {
                best = std::move(candidate);
                bestType = type;
                bestSize = type == BLOCK_UNCOMPRESSED ? span : blockSize;
            }
        }

        writer = std::move(*best);
        streamStarted_ = true;
        blockType_ = bestType;
        blockSize_ = bestSize;
        blockRemaining_ = bestSize - span;
        if (bestType == BLOCK_UNCOMPRESSED) {
            reps_ = startReps;
            padPending_ = (span & 1) && !lastFrame;
        } else {
            reps_ = parsedReps;
            std::memcpy(previousMain_, trees.mainLengths, sizeof previousMain_);
            std::memcpy(previousLength_, trees.lengthLengths, sizeof previousLength_);
            blockTrees_ = trees;
            model_.FromTrees(trees, bestType == BLOCK_ALIGNED, 12);
            blockModel_.FromTrees(trees, bestType == BLOCK_ALIGNED, 255);
        }
        return end;
    }

    uint32_t ContinueBlock(BitWriter& writer, uint32_t pos, uint32_t end, bool lastFrame) {
        const uint32_t span = std::min(blockRemaining_, end - pos);
        blockRemaining_ -= span;
        if (blockType_ == BLOCK_UNCOMPRESSED) {
            WriteRaw(writer, pos, span, blockRemaining_ == 0, pos + span == end, lastFrame);
            return pos + span;
        }
        std::vector<Item> items;
        Parse(finder_, pos, pos + span, reps_, blockModel_, items);
        WriteItems(writer, items, blockTrees_, blockType_ == BLOCK_ALIGNED);
        return pos + span;
    }

    LzxEncoderOptions options_;
    MatchFinder finder_;
    int mainElements_;
    RepeatedOffsets reps_;
    CostModel model_;
    CostModel blockModel_;
    Trees blockTrees_;
    uint8_t previousMain_[MAX_MAIN_ELEMENTS] = {};
    uint8_t previousLength_[LENGTH_ELEMENTS] = {};
    bool streamStarted_ = false;
    int blockType_ = 0;
    uint32_t blockSize_ = 0;
    uint32_t blockRemaining_ = 0;
    bool padPending_ = false;
    uint32_t framesDone_ = 0;
    int32_t translationPosition_ = 0;
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeLzxEncoder(const LzxEncoderOptions& options) {
    if (options.windowBits < MIN_WINDOW_BITS || options.windowBits > MAX_WINDOW_BITS)
        return nullptr;
    if (options.blockFrames < 1 || options.blockFrames > 256) return nullptr;
    if (options.forcedBlockType < 0 || options.forcedBlockType > 3) return nullptr;
    if (options.maxChain < 1 || options.maxChain > 256) return nullptr;
    return std::make_unique<LzxEncoder>(options);
}

std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits, bool translateE8) {
    LzxEncoderOptions options;
    options.windowBits = windowBits;
    options.translateE8 = translateE8;
    return MakeLzxEncoder(options);
}

}  // namespace cab
