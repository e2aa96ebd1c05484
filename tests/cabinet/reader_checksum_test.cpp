// The data block checksum, against values worked out by hand from its
// definition (little-endian words, then the tail bytes big-end first).
#include <gtest/gtest.h>

#include <vector>

#include "cabinet/checksum.h"

namespace {

TEST(ReaderChecksum, WordsThenOneTwoOrThreeTailBytes) {
    const std::vector<uint8_t> b = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    EXPECT_EQ(cab::CabChecksum(b.data(), 0, 0x12345678u), 0x12345678u);
    EXPECT_EQ(cab::CabChecksum(b.data(), 4, 0), 0x04030201u);
    EXPECT_EQ(cab::CabChecksum(b.data(), 5, 0), 0x04030201u ^ 0x05u);
    EXPECT_EQ(cab::CabChecksum(b.data(), 6, 0), 0x04030201u ^ 0x0506u);
    EXPECT_EQ(cab::CabChecksum(b.data(), 7, 0), 0x04030201u ^ 0x050607u);
    EXPECT_EQ(cab::CabChecksum(b.data(), 9, 0), 0x04030201u ^ 0x08070605u ^ 0x09u);
    EXPECT_EQ(cab::CabChecksum(b.data(), 17, 0xFFFFFFFFu),
              0xFFFFFFFFu ^ 0x04030201u ^ 0x08070605u ^ 0x0C0B0A09u ^ 0x100F0E0Du ^ 0x11u);
    // Any alignment gives the same value.
    std::vector<uint8_t> shifted(b.size() + 1);
    std::copy(b.begin(), b.end(), shifted.begin() + 1);
    EXPECT_EQ(cab::CabChecksum(shifted.data() + 1, 17, 7), cab::CabChecksum(b.data(), 17, 7));
}

// The checksum word by word, as defined: the fast path must agree with it
// on every length (whole vector rounds, the eight-byte and four-byte tails,
// the last bytes) and alignment.
uint32_t PlainChecksum(const uint8_t* p, size_t size, uint32_t value) {
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        value ^=
            p[i] | (p[i + 1] << 8) | (p[i + 2] << 16) | (static_cast<uint32_t>(p[i + 3]) << 24);
    }
    uint32_t tail = 0;
    for (; i < size; ++i) tail = (tail << 8) | p[i];
    return value ^ tail;
}

TEST(ReaderChecksum, LongBuffersMatchTheWordByWordDefinitionAtAnyLengthAndAlignment) {
    std::vector<uint8_t> bytes(32768 + 1024);
    uint32_t state = 0x9E3779B9u;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t size = 0; size <= 700; ++size) {
            ASSERT_EQ(cab::CabChecksum(bytes.data() + offset, size, 0x5A5A5A5Au),
                      PlainChecksum(bytes.data() + offset, size, 0x5A5A5A5Au))
                << "offset " << offset << ", size " << size;
        }
        for (size_t size : {32767u, 32768u, 32769u, 32770u, 32771u}) {
            ASSERT_EQ(cab::CabChecksum(bytes.data() + offset, size, 1),
                      PlainChecksum(bytes.data() + offset, size, 1))
                << "offset " << offset << ", size " << size;
        }
    }
}

TEST(ReaderChecksum, BlockValueCoversDataThenTheHeaderAfterTheSumField) {
    const std::vector<uint8_t> data = {0xAA, 0xBB, 0xCC};
    const std::vector<uint8_t> header = {0x03, 0x00, 0x03, 0x00};  // sizes 3 and 3
    EXPECT_EQ(cab::BlockChecksum(data.data(), 3, header.data(), 4), 0xAABBCCu ^ 0x00030003u);
}

}  // namespace
