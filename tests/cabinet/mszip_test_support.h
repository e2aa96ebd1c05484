// Test helpers for the MSZIP decoder: sample data, MSZIP blocks made with
// zlib's deflate, a bit writer for hand-made deflate streams, and a decoder
// that keeps its output buffer (the history) between blocks.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cabinet/decoder.h"

namespace mszip_test {

using Bytes = std::vector<uint8_t>;

// Deterministic sample data of a few kinds.
inline Bytes TextSample(size_t size, uint32_t seed = 1) {
    static const char* const words[] = {
        "cabinet", "folder", "the",   "of",    "block", "stream", "data",   "and",   "window",
        "history", "bytes",  "a",     "code",  "table", "length", "offset", "final", "header",
        "to",      "in",     "files", "entry", "name",  "is",     "time",   "value"};
    Bytes out;
    uint32_t state = seed;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        const char* word = words[(state >> 16) % (sizeof(words) / sizeof(words[0]))];
        out.insert(out.end(), word, word + std::char_traits<char>::length(word));
        out.push_back((state >> 8) % 11 == 0 ? '\n' : ' ');
    }
    out.resize(size);
    return out;
}

inline Bytes RandomSample(size_t size, uint32_t seed = 7) {
    Bytes out(size);
    uint64_t state = seed;
    for (auto& byte : out) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        byte = uint8_t(state >> 56);
    }
    return out;
}

// Records of small integers, runs and short periods: short distances 1 to 7.
inline Bytes BinarySample(size_t size, uint32_t seed = 3) {
    Bytes out;
    uint32_t state = seed;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        const unsigned kind = (state >> 16) % 4;
        const unsigned count = 4 + (state >> 20) % 60;
        if (kind == 0) out.insert(out.end(), count, uint8_t(state >> 8));
        if (kind == 1)
            for (unsigned i = 0; i < count; ++i)
                out.push_back(uint8_t(i % (2 + (state >> 24) % 6)));
        if (kind == 2)
            for (unsigned i = 0; i < count; ++i) {
                out.push_back(uint8_t(i * 4));
                out.push_back(0);
            }
        if (kind == 3)
            for (unsigned i = 0; i < count; ++i) out.push_back(uint8_t((state >> (i % 24)) & 0x1F));
    }
    out.resize(size);
    return out;
}

enum class BlockMode {
    Dictionary,  // each block a complete deflate stream, the previous frame as dictionary
    SyncFlush,   // one stream, sync flush after each frame: blocks end mid-stream
    FullFlush,   // one stream, full flush after each frame: no references across blocks
};

// Splits `data` into 32768-byte frames and deflates each into "CK" + data.
inline std::vector<Bytes> MakeMszipBlocks(const Bytes& data, int level, int strategy,
                                          BlockMode mode, int memLevel = 8) {
    std::vector<Bytes> blocks;
    z_stream stream{};
    auto init = [&] {
        if (deflateInit2(&stream, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK)
            throw std::runtime_error("deflateInit2");
    };
    if (mode != BlockMode::Dictionary) init();
    for (size_t offset = 0; offset < data.size() || offset == 0; offset += cab::MAX_BLOCK_SIZE) {
        const size_t size = std::min<size_t>(cab::MAX_BLOCK_SIZE, data.size() - offset);
        const bool last = offset + size >= data.size();
        if (mode == BlockMode::Dictionary) {
            init();
            if (offset > 0)
                deflateSetDictionary(&stream, data.data() + offset - cab::MAX_BLOCK_SIZE,
                                     cab::MAX_BLOCK_SIZE);
        }
        Bytes block(2 + deflateBound(&stream, size) + 64);
        block[0] = 'C';
        block[1] = 'K';
        stream.next_in = const_cast<uint8_t*>(data.data() + offset);
        stream.avail_in = uInt(size);
        stream.next_out = block.data() + 2;
        stream.avail_out = uInt(block.size() - 2);
        const int flush = mode == BlockMode::Dictionary || last ? Z_FINISH
                          : mode == BlockMode::SyncFlush        ? Z_SYNC_FLUSH
                                                                : Z_FULL_FLUSH;
        const int result = deflate(&stream, flush);
        if (result != (flush == Z_FINISH ? Z_STREAM_END : Z_OK) || stream.avail_in != 0)
            throw std::runtime_error("deflate");
        block.resize(block.size() - stream.avail_out);
        if (block.size() > cab::MAX_BLOCK_SIZE + 12) {
            // Incompressible: one stored deflate block, as a cabinet writer would.
            block.assign({'C', 'K', uint8_t(last), uint8_t(size), uint8_t(size >> 8),
                          uint8_t(~size), uint8_t(~size >> 8)});
            block.insert(block.end(), data.begin() + offset, data.begin() + offset + size);
        }
        blocks.push_back(std::move(block));
        if (mode == BlockMode::Dictionary) deflateEnd(&stream);
        if (last) break;
    }
    if (mode != BlockMode::Dictionary) deflateEnd(&stream);
    return blocks;
}

// Deflate bits, least significant first; Huffman codes most significant first.
class BitWriter {
  public:
    BitWriter& Bits(uint64_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) Bit((value >> i) & 1);
        return *this;
    }
    BitWriter& Code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) Bit((code >> i) & 1);
        return *this;
    }
    BitWriter& Align() {
        while (used_ != 0) Bit(0);
        return *this;
    }
    BitWriter& Byte(uint8_t value) { return Bits(value, 8); }

    // Fixed-code symbols of block type 1.
    BitWriter& FixedLiteral(unsigned symbol) {
        if (symbol < 144) return Code(0x30 + symbol, 8);
        if (symbol < 256) return Code(0x190 + symbol - 144, 9);
        if (symbol < 280) return Code(symbol - 256, 7);
        return Code(0xC0 + symbol - 280, 8);
    }
    BitWriter& FixedMatch(unsigned length, unsigned distance) {
        unsigned symbol = 0;
        while (symbol + 1 < 29 && LengthBase(symbol + 1) <= length) ++symbol;
        FixedLiteral(257 + symbol).Bits(length - LengthBase(symbol), LengthExtra(symbol));
        unsigned code = 0;
        while (code + 1 < 30 && DistanceBase(code + 1) <= distance) ++code;
        return Code(code, 5).Bits(distance - DistanceBase(code), DistanceExtra(code));
    }
    // Header of a stored block followed by its bytes.
    BitWriter& Stored(bool final, const Bytes& bytes) {
        Bits(final, 1).Bits(0, 2).Align();
        Bits(uint32_t(bytes.size()), 16).Bits(uint32_t(~bytes.size()) & 0xFFFF, 16);
        for (uint8_t byte : bytes) Byte(byte);
        return *this;
    }

    Bytes Block() const {  // "CK" + the bytes written so far
        Bytes out(2 + bytes_.size() + (used_ != 0 ? 1 : 0));
        out[0] = 'C';
        out[1] = 'K';
        std::copy(bytes_.begin(), bytes_.end(), out.begin() + 2);
        if (used_ != 0) out.back() = current_;
        return out;
    }

    // The length and distance codes by deflate's rules rather than its
    // tables, so that the decoder's tables meet an independent account: the
    // extra bits grow by one every four length codes from code 8 and every
    // two distance codes from code 4, each base follows the previous code's
    // range, and length code 28 stands alone for 258.
    static constexpr unsigned LengthExtra(unsigned code) {
        return code < 8 || code == 28 ? 0 : (code - 4) / 4;
    }
    static constexpr unsigned LengthBase(unsigned code) {
        unsigned base = 3;
        for (unsigned below = 0; below < code; ++below) base += 1u << LengthExtra(below);
        return code == 28 ? 258 : base;
    }
    static constexpr unsigned DistanceExtra(unsigned code) { return code < 4 ? 0 : (code - 2) / 2; }
    static constexpr unsigned DistanceBase(unsigned code) {
        unsigned base = 1;
        for (unsigned below = 0; below < code; ++below) base += 1u << DistanceExtra(below);
        return base;
    }

  private:
    void Bit(unsigned bit) {
        current_ |= uint8_t(bit << used_);
        if (++used_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            used_ = 0;
        }
    }
    Bytes bytes_;
    uint8_t current_ = 0;
    unsigned used_ = 0;
};

// Canonical codes for code lengths, as deflate assigns them.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    unsigned count[16] = {};
    for (uint8_t length : lengths) ++count[length];
    count[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (unsigned bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
        if (lengths[symbol] != 0) codes[symbol] = next[lengths[symbol]]++;
    return codes;
}

// A dynamic block header. The code-length code is given by its 19 lengths;
// `items` are its symbols with their extra-bit values, in sending order.
struct DynamicHeader {
    unsigned literalCodes = 257;
    unsigned distanceCodes = 1;
    std::vector<uint8_t> codeLengthLengths = std::vector<uint8_t>(19, 0);
    std::vector<std::pair<unsigned, unsigned>> items;

    // Uses a code-length code of 16 four-bit codes for the values 0 to 15 and
    // sends every length on its own.
    static DynamicHeader Plain(const std::vector<uint8_t>& literalLengths,
                               const std::vector<uint8_t>& distanceLengths) {
        DynamicHeader header;
        header.literalCodes = unsigned(literalLengths.size());
        header.distanceCodes = unsigned(distanceLengths.size());
        for (unsigned symbol = 0; symbol < 16; ++symbol) header.codeLengthLengths[symbol] = 4;
        for (uint8_t length : literalLengths) header.items.push_back({length, 0});
        for (uint8_t length : distanceLengths) header.items.push_back({length, 0});
        return header;
    }

    void Write(BitWriter& writer, bool final) const {
        static const unsigned order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        writer.Bits(final, 1).Bits(2, 2);
        writer.Bits(literalCodes - 257, 5).Bits(distanceCodes - 1, 5).Bits(19 - 4, 4);
        for (unsigned i = 0; i < 19; ++i) writer.Bits(codeLengthLengths[order[i]], 3);
        const auto codes = CanonicalCodes(codeLengthLengths);
        for (auto [symbol, extra] : items) {
            writer.Code(codes[symbol], codeLengthLengths[symbol]);
            if (symbol == 16) writer.Bits(extra, 2);
            if (symbol == 17) writer.Bits(extra, 3);
            if (symbol == 18) writer.Bits(extra, 7);
        }
    }
};

// A decoder with its own 32768-byte output buffer, kept between blocks.
class Decoder {
  public:
    Decoder() {
        uint32_t maxBlock = cab::MAX_BLOCK_SIZE, bufferSize = 0;
        cab::DecoderServices services;
        services.alloc = [](uint32_t size) { return std::malloc(size); };
        services.free = [](void* memory) { std::free(memory); };
        if (cab::MszipCreate(&maxBlock, &bufferSize, services, &handle_) != CAB_DECODER_OK)
            throw std::runtime_error("MszipCreate");
    }
    ~Decoder() { cab::MszipDestroy(handle_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes one block; on success `produced` holds the output.
    int Decode(const Bytes& block, Bytes& produced, uint32_t capacity = cab::MAX_BLOCK_SIZE) {
        uint32_t size = capacity;
        const int result = cab::MszipDecompress(handle_, block.data(), uint32_t(block.size()),
                                                buffer_.data(), &size);
        if (result == CAB_DECODER_OK) produced.assign(buffer_.begin(), buffer_.begin() + size);
        return result;
    }
    int Decode(const Bytes& block) {
        Bytes ignored;
        return Decode(block, ignored);
    }

    cab::DecoderHandle handle() const { return handle_; }
    Bytes& buffer() { return buffer_; }

  private:
    cab::DecoderHandle handle_ = nullptr;
    Bytes buffer_ = Bytes(cab::MAX_BLOCK_SIZE, 0xEE);
};

}  // namespace mszip_test
