// Quantum folders through the cabinet writer and reader: window exponents per
// folder, folders split across a cabinet set, and broken data.
#include "tests/cabinet/quantum_test_support.h"
#include "tests/cabinet/reader_support.h"

namespace cab_test {
namespace {

class QuantumCabinet : public ScratchTest {
  protected:
    std::vector<std::string> BuildQuantum(
        const std::vector<std::pair<int, std::vector<TestFile>>>& folders,
        cab::CabinetWriterOptions options = {}) {
        std::vector<EncodedFolder> encoded;
        for (const auto& [bits, files] : folders) {
            encoded.push_back({[bits = bits] { return cab::MakeQuantumEncoder(bits); }, files});
        }
        return BuildFolders(encoded, std::move(options));
    }
};

TEST_F(QuantumCabinet, FoldersWithTheirOwnWindowsExtractExactly) {
    const auto a = cab::quantum_test::MixedData(90000, 1);
    const auto b = cab::quantum_test::MixedData(70000, 2);
    const auto c = cab::quantum_test::MixedData(5, 3);
    const auto paths =
        BuildQuantum({{10, {{"a", a}, {"c", c}}}, {21, {{"b", b}}}, {10, {{"d", a}}}});
    ASSERT_EQ(paths.size(), 1u);
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_TRUE(ReadAll(dir_ / "out" / "a") == a);
    EXPECT_TRUE(ReadAll(dir_ / "out" / "b") == b);
    EXPECT_TRUE(ReadAll(dir_ / "out" / "c") == c);
    EXPECT_TRUE(ReadAll(dir_ / "out" / "d") == a);
}

// Blocks split at cabinet ends: the decoder keeps its history across them.
TEST_F(QuantumCabinet, FolderAcrossACabinetSet) {
    const auto data = cab::quantum_test::MixedData(200000, 4);
    cab::CabinetWriterOptions options;
    options.maxCabinetSize = 30000;
    options.cabinetName = [](int i) { return "set" + std::to_string(i) + ".cab"; };
    const auto paths = BuildQuantum({{16, {{"big", data}}}}, options);
    ASSERT_GT(paths.size(), 1u);
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_TRUE(ReadAll(dir_ / "out" / "big") == data);
}

// Without checksums a changed byte reaches the decoder, which refuses it or
// (where the change still decodes) at least never crashes.
TEST_F(QuantumCabinet, BrokenDataFailsCleanly) {
    const auto data = cab::quantum_test::MixedData(60000, 5);
    cab::CabinetWriterOptions options;
    options.checksums = false;
    const auto paths = BuildQuantum({{15, {{"f", data}}}}, options);
    const auto original = ReadAll(paths[0]);
    int decodeErrors = 0;
    for (size_t cut : {size_t{200}, size_t{5000}, original.size() - 3}) {
        auto broken = original;
        broken[cut] ^= 0x5A;
        WriteAll(paths[0], broken);
        Recorder r;
        error_ = {};
        if (Copy(paths[0], r) == 0) {
            EXPECT_EQ(error_.code, CAB_ERROR_DECODE);
            ++decodeErrors;
        }
    }
    EXPECT_GT(decodeErrors, 0);
    // A window exponent of 22 in the folder entry is refused.
    auto broken = original;
    const size_t typeOffset = kFolderTableOffset + 6;
    PutLe16ForTest(broken, typeOffset, static_cast<uint16_t>(CAB_CODEC_QUANTUM | (22 << 8)));
    WriteAll(paths[0], broken);
    Recorder r;
    error_ = {};
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_DECODE);
}

}  // namespace
}  // namespace cab_test
