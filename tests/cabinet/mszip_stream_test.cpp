// Hand-made deflate streams: the decoder's limits, its history across blocks
// and every malformed stream it must refuse.
#include <gtest/gtest.h>

#include "tests/cabinet/mszip_test_support.h"

namespace {

using namespace mszip_test;

Bytes Repeat(const std::string& text, size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) out.insert(out.end(), text.begin(), text.end());
    return out;
}

TEST(MszipStream, SeveralDeflateBlocksDecodeUntilTheFinalOneAndTheRestIsIgnored) {
    BitWriter writer;
    writer.Bits(0, 1).Bits(1, 2).FixedLiteral('a').FixedLiteral('b').FixedLiteral(256);
    writer.Stored(false, {'c', 'd'});
    writer.Bits(1, 1).Bits(1, 2).FixedLiteral('e').FixedMatch(4, 5).FixedLiteral(256);
    writer.Bits(1, 1).Bits(3, 2);  // a block type 3 after the final block is never read
    Decoder decoder;
    Bytes produced;
    ASSERT_EQ(decoder.Decode(writer.Block(), produced), CAB_DECODER_OK);
    EXPECT_EQ(std::string(produced.begin(), produced.end()), "abcdeabcd");
}

TEST(MszipStream, DecodingStopsAtTheOutputLimitWithoutTheFinalBlock) {
    // A literal and a run of matches that would give 40000 bytes: the block
    // ends after 32768, mid-match, and the missing end-of-block is not needed.
    BitWriter writer;
    writer.Bits(0, 1).Bits(1, 2).FixedLiteral('z');
    for (int i = 0; i < 40000 / 258; ++i) writer.FixedMatch(258, 1);
    Decoder decoder;
    Bytes produced;
    ASSERT_EQ(decoder.Decode(writer.Block(), produced), CAB_DECODER_OK);
    EXPECT_EQ(produced, Bytes(32768, 'z'));

    // A smaller capacity is a smaller limit; a stored block is cut the same way.
    ASSERT_EQ(decoder.Decode(writer.Block(), produced, 1000), CAB_DECODER_OK);
    EXPECT_EQ(produced, Bytes(1000, 'z'));
    const Bytes stored = BitWriter().Stored(true, Repeat("0123456789", 10)).Block();
    ASSERT_EQ(decoder.Decode(stored, produced, 25), CAB_DECODER_OK);
    EXPECT_EQ(std::string(produced.begin(), produced.end()), "0123456789012345678901234");
}

TEST(MszipStream, MissingBitsAtTheEndReadAsZeros) {
    // The fixed end-of-block code is seven zero bits: cut it off entirely.
    BitWriter writer;
    writer.Bits(1, 1).Bits(1, 2).FixedLiteral('h').FixedLiteral('i');
    Bytes block = writer.Block();  // the last byte holds the first bits of the end code
    Bytes produced;
    Decoder decoder;
    ASSERT_EQ(decoder.Decode(block, produced), CAB_DECODER_OK);
    EXPECT_EQ(std::string(produced.begin(), produced.end()), "hi");

    // Zeros that decode to something invalid fail: a non-final block followed
    // by nothing reads a stored header whose length check fails.
    BitWriter open;
    open.Bits(0, 1).Bits(1, 2).FixedLiteral('h').FixedLiteral(256);
    EXPECT_EQ(decoder.Decode(open.Block()), CAB_DECODER_DATA_ERROR);
}

// A full first block of distinct-looking bytes, as history for the second.
Bytes HistoryBlock(Bytes& content) {
    content.resize(32768);
    for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i * 7 + (i >> 8));
    return BitWriter().Stored(true, content).Block();
}

TEST(MszipStream, BackReferencesReachIntoThePreviousBlock) {
    Decoder decoder;
    Bytes first, produced;
    ASSERT_EQ(decoder.Decode(HistoryBlock(first), produced), CAB_DECODER_OK);
    ASSERT_EQ(produced, first);

    // Distance 32768 at the first byte copies the previous block's first bytes;
    // a match that starts in the previous block runs on into this one.
    BitWriter writer;
    writer.Bits(1, 1).Bits(1, 2).FixedMatch(3, 32768).FixedMatch(10, 5).FixedMatch(20, 16);
    writer.FixedLiteral(256);
    ASSERT_EQ(decoder.Decode(writer.Block(), produced), CAB_DECODER_OK);
    Bytes expected(first.begin(), first.begin() + 3);
    for (size_t i = 0; i < 10; ++i)
        expected.push_back(expected.size() >= 5 ? expected[expected.size() - 5]
                                                : first[32768 - 5 + expected.size()]);
    for (size_t i = 0; i < 20; ++i)
        expected.push_back(expected.size() >= 16 ? expected[expected.size() - 16]
                                                 : first[32768 - 16 + expected.size()]);
    EXPECT_EQ(produced, expected);
}

// Every length from 3 to 258, with distances cycling through the smallest and
// the largest of every distance code, in full blocks after a full history.
TEST(MszipStream, EveryLengthAndDistanceCode) {
    Decoder decoder;
    Bytes model;
    ASSERT_EQ(decoder.Decode(HistoryBlock(model)), CAB_DECODER_OK);
    std::vector<unsigned> distances;
    for (unsigned code = 0; code < 30; ++code) {
        distances.push_back(BitWriter::DistanceBase(code));
        distances.push_back(BitWriter::DistanceBase(code) + (1u << BitWriter::DistanceExtra(code)) -
                            1);
    }
    unsigned length = 3;
    while (length <= 258) {
        // Each block ends where its 32768th byte is written.
        BitWriter writer;
        writer.Bits(1, 1).Bits(1, 2);
        size_t produced = 0;
        for (; produced < 32768; ++length) {
            const unsigned distance = distances[length % distances.size()];
            writer.FixedMatch(length <= 258 ? length : 258, distance);
            for (unsigned i = 0; i < std::min(length, 258u) && produced < 32768; ++i, ++produced)
                model.push_back(model[model.size() - distance]);
        }
        Bytes out;
        ASSERT_EQ(decoder.Decode(writer.FixedLiteral(256).Block(), out), CAB_DECODER_OK);
        ASSERT_TRUE(std::equal(out.begin(), out.end(), model.end() - 32768)) << length;
    }
}

TEST(MszipStream, NothingBeforeTheFolderStartCanBeReferredTo) {
    // Deliberate: the buffer's content before a folder's first block is not
    // this folder's data, so a reference to it is a data error.
    BitWriter writer;
    writer.Bits(1, 1).Bits(1, 2).FixedLiteral('a').FixedMatch(3, 2).FixedLiteral(256);
    Decoder decoder;
    EXPECT_EQ(decoder.Decode(writer.Block()), CAB_DECODER_DATA_ERROR);

    // After a full block the same reference is fine, and reset forgets it again.
    Bytes first;
    ASSERT_EQ(decoder.Decode(HistoryBlock(first)), CAB_DECODER_OK);
    EXPECT_EQ(decoder.Decode(writer.Block()), CAB_DECODER_OK);
    ASSERT_EQ(cab::MszipReset(decoder.handle()), CAB_DECODER_OK);
    EXPECT_EQ(decoder.Decode(writer.Block()), CAB_DECODER_DATA_ERROR);

    // Only the previous block's own output is history: after a short block the
    // rest of the buffer (older data) cannot be reached.
    ASSERT_EQ(decoder.Decode(BitWriter().Stored(true, Repeat("x", 100)).Block()), CAB_DECODER_OK);
    BitWriter old;
    old.Bits(1, 1).Bits(1, 2).FixedMatch(3, 32768 - 200).FixedLiteral(256);
    EXPECT_EQ(decoder.Decode(old.Block()), CAB_DECODER_DATA_ERROR);
    ASSERT_EQ(decoder.Decode(BitWriter().Stored(true, Repeat("x", 100)).Block()), CAB_DECODER_OK);
    BitWriter recent;
    recent.Bits(1, 1).Bits(1, 2).FixedMatch(3, 32768).FixedLiteral(256);
    Bytes produced;
    EXPECT_EQ(decoder.Decode(recent.Block(), produced), CAB_DECODER_OK);
    EXPECT_EQ(produced, Repeat("x", 3));
}

TEST(MszipStream, DynamicBlockWithOnlyLiteralsNeedsNoDistanceCodes) {
    std::vector<uint8_t> literals(257, 0);
    literals['x'] = 1;
    literals[256] = 1;
    BitWriter writer;
    DynamicHeader::Plain(literals, {0}).Write(writer, true);
    const auto codes = CanonicalCodes(literals);
    for (int i = 0; i < 3; ++i) writer.Code(codes['x'], 1);
    writer.Code(codes[256], 1);
    Decoder decoder;
    Bytes produced;
    ASSERT_EQ(decoder.Decode(writer.Block(), produced), CAB_DECODER_OK);
    EXPECT_EQ(std::string(produced.begin(), produced.end()), "xxx");

    // A length code with no distance table is an invalid code.
    literals.resize(258, 0);
    literals[257] = 2;
    literals[256] = 2;
    BitWriter withLength;
    DynamicHeader::Plain(literals, {0}).Write(withLength, true);
    const auto lengthCodes = CanonicalCodes(literals);
    withLength.Code(lengthCodes['x'], 1).Code(lengthCodes[257], 2).Code(0, 1);
    EXPECT_EQ(decoder.Decode(withLength.Block()), CAB_DECODER_DATA_ERROR);
}

TEST(MszipStream, SingleDistanceCodeOfLengthOne) {
    std::vector<uint8_t> literals(258, 0);
    literals['a'] = 1;
    literals[256] = 2;
    literals[257] = 2;  // length 3
    auto makeBlock = [&](uint32_t distanceCode) {
        BitWriter writer;
        DynamicHeader::Plain(literals, {1}).Write(writer, true);
        const auto codes = CanonicalCodes(literals);
        writer.Code(codes['a'], 1).Code(codes[257], 2).Code(distanceCode, 1).Code(codes[256], 2);
        return writer.Block();
    };
    Decoder decoder;
    Bytes produced;
    ASSERT_EQ(decoder.Decode(makeBlock(0), produced), CAB_DECODER_OK);
    EXPECT_EQ(std::string(produced.begin(), produced.end()), "aaaa");
    // The unused half of that code is an invalid code.
    EXPECT_EQ(decoder.Decode(makeBlock(1)), CAB_DECODER_DATA_ERROR);
}

TEST(MszipStream, LengthSixteenWithNothingBeforeRepeatsZero) {
    // Chosen reading: a repeat of "the previous length" before any length
    // was sent repeats 0.
    DynamicHeader header;
    header.literalCodes = 257;
    header.distanceCodes = 1;
    header.codeLengthLengths[16] = 2;
    header.codeLengthLengths[18] = 2;
    header.codeLengthLengths[0] = 2;
    header.codeLengthLengths[1] = 2;
    header.items = {
        {16, 3},         // six zeros: symbols 0 to 5
        {18, 138 - 11},  // symbols 6 to 143
        {18, 112 - 11},  // symbols 144 to 255
        {1, 0},          // end of block
        {0, 0},          // the one distance code, unused
    };
    // Literal/length code: only 256 with length 1, a single code: allowed.
    BitWriter writer;
    header.Write(writer, true);
    writer.Code(0, 1);  // end of block
    Decoder decoder;
    Bytes produced;
    ASSERT_EQ(decoder.Decode(writer.Block(), produced), CAB_DECODER_OK);
    EXPECT_TRUE(produced.empty());
}

// A final dynamic block written symbol by symbol, with the bytes it must
// decode to.
class DynamicStream {
  public:
    DynamicStream(std::vector<uint8_t> literals, std::vector<uint8_t> distances)
        : literals_(std::move(literals)),
          distances_(std::move(distances)),
          literalCodes_(CanonicalCodes(literals_)),
          distanceCodes_(CanonicalCodes(distances_)) {
        DynamicHeader::Plain(literals_, distances_).Write(writer_, true);
    }

    void Literal(unsigned symbol) {
        writer_.Code(literalCodes_[symbol], literals_[symbol]);
        expected_.push_back(uint8_t(symbol));
    }
    void Match(unsigned lengthSymbol, unsigned extraLength, unsigned distanceSymbol,
               unsigned extraDistance) {
        const unsigned lengthCode = lengthSymbol - 257;
        writer_.Code(literalCodes_[lengthSymbol], literals_[lengthSymbol])
            .Bits(extraLength, BitWriter::LengthExtra(lengthCode));
        writer_.Code(distanceCodes_[distanceSymbol], distances_[distanceSymbol])
            .Bits(extraDistance, BitWriter::DistanceExtra(distanceSymbol));
        const unsigned length = BitWriter::LengthBase(lengthCode) + extraLength;
        const unsigned distance = BitWriter::DistanceBase(distanceSymbol) + extraDistance;
        for (unsigned i = 0; i < length; ++i)
            expected_.push_back(expected_[expected_.size() - distance]);
    }
    size_t size() const { return expected_.size(); }

    // Ends the block and decodes it.
    void ExpectDecodesExactly() {
        writer_.Code(literalCodes_[256], literals_[256]);
        Decoder decoder;
        Bytes produced;
        ASSERT_EQ(decoder.Decode(writer_.Block(), produced), CAB_DECODER_OK);
        EXPECT_EQ(produced, expected_);
    }

  private:
    std::vector<uint8_t> literals_, distances_;
    std::vector<uint32_t> literalCodes_, distanceCodes_;
    BitWriter writer_;
    Bytes expected_;
};

TEST(MszipStream, CodesUpToFifteenBitsDecodeThroughSubTables) {
    // Complete codes with one code of every length 1 to 14 and two of 15.
    std::vector<uint8_t> literals(258, 0), distances(16, 0);
    literals['A'] = 1;
    literals[257] = 2;  // length 3
    for (unsigned k = 0; k < 12; ++k) literals['B' + k] = uint8_t(3 + k);
    literals['z'] = 15;
    literals[256] = 15;
    for (unsigned i = 0; i < 14; ++i) distances[i] = uint8_t(i + 1);
    distances[14] = distances[15] = 15;  // distances 129-192 and 193-256

    DynamicStream stream(literals, distances);
    const char cycle[] = "AzMBzLA";
    for (unsigned i = 0; i < 400; ++i) stream.Literal(uint8_t(cycle[i % 7]));
    for (unsigned j = 0; j < 600; ++j) {
        stream.Match(257, 0, 14, j % 64);
        stream.Match(257, 0, 15, j % 64);
        stream.Match(257, 0, 0, 0);
        stream.Literal('z');
    }
    stream.ExpectDecodesExactly();
}

// The most bits one step of decoding can take: two 11-bit literals, then a
// 15-bit length code with 5 extra bits and a 15-bit distance code with 13,
// 70 bits before the next code, more than one 64-bit load holds.
TEST(MszipStream, LongestCodesAfterTwoLiteralsDecodeExactly) {
    std::vector<uint8_t> literals(285, 0), distances(30, 0);
    literals['A'] = 1;
    literals[257] = 2;
    for (unsigned k = 0; k < 12; ++k) literals['B' + k] = uint8_t(3 + k);  // 'J': 11 bits
    literals[284] = literals[256] = 15;  // lengths 227-258 with 5 extra bits; end of block
    for (unsigned i = 0; i < 14; ++i) distances[i] = uint8_t(i + 1);
    distances[28] = distances[29] = 15;  // 16385-32768 with 13 extra bits

    DynamicStream stream(literals, distances);
    for (unsigned i = 0; i < 400; ++i) stream.Literal('A' + (i * 5) % 13);
    while (stream.size() < 28000) stream.Match(284, 31, 13, stream.size() % 32);  // 97-128 back
    for (unsigned i = 0; stream.size() < 32768 - 260; ++i) {
        stream.Literal('J');
        stream.Literal('J');
        stream.Match(284, i % 32, 29, (i * 997) % 3000);
    }
    stream.ExpectDecodesExactly();
}

// Each stream below is malformed in exactly one way.
TEST(MszipStream, MalformedStreamsAreDataErrors) {
    Decoder decoder;
    auto expectError = [&](const Bytes& block, const char* what) {
        EXPECT_EQ(decoder.Decode(block), CAB_DECODER_DATA_ERROR) << what;
    };

    expectError(BitWriter().Bits(1, 1).Bits(3, 2).Bits(0, 32).Block(), "block type 3");

    {
        Bytes stored = BitWriter().Stored(true, {'a', 'b'}).Block();
        stored[4] ^= 1;  // NLEN no longer the complement of LEN
        expectError(stored, "LEN/NLEN mismatch");
        Bytes cut = BitWriter().Stored(true, {'a', 'b', 'c'}).Block();
        cut.pop_back();
        expectError(cut, "stored length past the data block");
    }

    expectError(BitWriter().Bits(1, 1).Bits(1, 2).FixedLiteral(286).Block(), "literal 286");
    expectError(BitWriter().Bits(1, 1).Bits(1, 2).FixedLiteral(287).Block(), "literal 287");
    expectError(
        BitWriter().Bits(1, 1).Bits(1, 2).FixedLiteral('a').FixedLiteral(257).Code(30, 5).Block(),
        "distance code 30");

    {
        BitWriter writer;  // HLIT 30: 287 literal/length codes
        writer.Bits(1, 1).Bits(2, 2).Bits(30, 5).Bits(0, 5).Bits(15, 4).Bits(0, 64).Bits(0, 64);
        expectError(writer.Block(), "too many literal/length codes");
        BitWriter distances;  // HDIST 30: 31 distance codes
        distances.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(30, 5).Bits(15, 4).Bits(0, 64).Bits(0, 64);
        expectError(distances.Block(), "too many distance codes");
    }

    std::vector<uint8_t> literals(257, 8);  // 257 codes of 8 bits: over-subscribed
    {
        BitWriter writer;
        DynamicHeader::Plain(literals, {1}).Write(writer, true);
        expectError(writer.Block(), "over-subscribed literal/length code");
    }
    {
        literals.assign(257, 0);
        literals['a'] = 2;
        literals[256] = 2;  // half the code space unused, longest length 2
        BitWriter writer;
        DynamicHeader::Plain(literals, {1}).Write(writer, true);
        expectError(writer.Block(), "incomplete literal/length code");
    }
    {
        DynamicHeader header = DynamicHeader::Plain(std::vector<uint8_t>(257, 0), {0});
        header.codeLengthLengths.assign(19, 0);
        header.codeLengthLengths[0] = 1;
        header.codeLengthLengths[1] = 1;
        header.codeLengthLengths[2] = 1;
        header.items.clear();
        BitWriter writer;
        header.Write(writer, true);
        expectError(writer.Block(), "over-subscribed code-length code");
        header.codeLengthLengths[2] = 0;
        header.codeLengthLengths[0] = 2;  // 1/4 + 1/2: incomplete
        BitWriter incomplete;
        header.Write(incomplete, true);
        expectError(incomplete.Block(), "incomplete code-length code");
    }
    {
        DynamicHeader header;  // 258 lengths; two runs of 138 zeros overrun them
        header.codeLengthLengths[8] = 1;
        header.codeLengthLengths[18] = 2;
        header.codeLengthLengths[0] = 2;
        header.items = {{18, 127}, {18, 127}};
        BitWriter writer;
        header.Write(writer, true);
        expectError(writer.Block(), "repeat past the end of the lengths");
    }
    {
        // An all-zero code-length code cannot decode any length.
        DynamicHeader header;
        BitWriter writer;
        header.Write(writer, true);
        expectError(writer.Bits(0, 32).Block(), "empty code-length code");
    }
}

}  // namespace
