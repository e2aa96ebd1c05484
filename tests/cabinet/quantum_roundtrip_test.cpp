#include <gtest/gtest.h>

#include "tests/cabinet/quantum_test_support.h"

namespace cab {
namespace {

using namespace quantum_test;

TEST(QuantumRoundTrip, EveryWindowExponent) {
    std::vector<uint8_t> data = MixedData(300000, 7);
    for (int bits = 10; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        EncodedFolder folder = EncodeFolder(data, bits);
        DecoderHandle handle = CreateDecoder(bits);
        ASSERT_NE(handle, nullptr);
        std::vector<uint8_t> out;
        EXPECT_EQ(DecodeFolder(handle, folder, out), CAB_DECODER_OK);
        EXPECT_TRUE(out == data);
        EXPECT_EQ(QuantumDestroy(handle), CAB_DECODER_OK);
    }
}

}  // namespace
}  // namespace cab
