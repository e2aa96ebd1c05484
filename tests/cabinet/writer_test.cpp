// The writer: MSZIP blocks as zlib reads them, set layout within the
// maximum size, and round trips of stored and MSZIP sets through the reader.
#include <gtest/gtest.h>
#include <zlib.h>

#include "cabinet/writer/folder_encoder.h"
#include "reader_support.h"

namespace cab_test {
namespace {

// Inflates one MSZIP block ("CK" + raw deflate) with the previous frame as
// the dictionary.
std::vector<uint8_t> InflateBlock(const std::vector<uint8_t>& block,
                                  const std::vector<uint8_t>& previous) {
    EXPECT_GE(block.size(), 2u);
    EXPECT_EQ(block[0], 'C');
    EXPECT_EQ(block[1], 'K');
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
    if (!previous.empty()) {
        EXPECT_EQ(inflateSetDictionary(&s, previous.data(), static_cast<uInt>(previous.size())),
                  Z_OK);
    }
    std::vector<uint8_t> out(32768);
    s.next_in = const_cast<Bytef*>(block.data() + 2);
    s.avail_in = static_cast<uInt>(block.size() - 2);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);  // every block ends its stream
    out.resize(out.size() - s.avail_out);
    inflateEnd(&s);
    return out;
}

TEST(WriterMszip, BlocksAreCompleteDeflateStreamsReferringToThePreviousFrame) {
    auto encoder = cab::MakeMszipEncoder(9);
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(encoder->CompressionType(), CAB_CODEC_MSZIP);
    // Frame 2 begins with frame 1's second half: that half compresses to
    // almost nothing by reaching back into the previous frame.
    const auto first = Pattern(32768, 1);
    std::vector<uint8_t> rotated(first.begin() + 16384, first.end());
    rotated.insert(rotated.end(), first.begin(), first.begin() + 16384);
    std::vector<uint8_t> text;
    while (text.size() < 32768) {
        const char* line = "the quick brown fox jumps over the lazy dog\n";
        text.insert(text.end(), line, line + 44);
    }
    text.resize(32768);
    const std::vector<std::vector<uint8_t>> frames = {
        first, rotated, text, {text.begin(), text.begin() + 100}};
    std::vector<uint8_t> previous;
    for (size_t i = 0; i < frames.size(); ++i) {
        std::vector<uint8_t> block;
        ASSERT_TRUE(encoder->EncodeFrame(frames[i].data(), static_cast<uint32_t>(frames[i].size()),
                                         i + 1 == frames.size(), block));
        EXPECT_LE(block.size(), 32780u);
        if (i == 0) {
            EXPECT_GT(block.size(), 32768u);  // incompressible
        }
        if (i == 1) {
            EXPECT_LT(block.size(), 17000u);
        }
        EXPECT_EQ(InflateBlock(block, previous), frames[i]) << i;
        previous = frames[i];
    }
}

class WriterRoundTrip : public ScratchTest {
  protected:
    // Extracts a whole set the way the cab tool does: a CabCopy for the
    // first cabinet, then one for the cabinet the last walk ended in.
    void ExtractSet(const std::vector<std::string>& paths) {
        size_t index = 0;
        while (index < paths.size()) {
            Recorder r;
            ASSERT_EQ(Copy(paths[index], r), 1) << paths[index] << " error " << error_.code;
            const auto switches = r.Names(CAB_NOTIFY_NEED_CABINET);
            index += switches.empty() ? 1 : switches.size();
        }
    }

    std::vector<std::string> BuildWith(const std::vector<TestFile>& files,
                                       cab::CabinetWriterOptions options, bool mszip) {
        return BuildFolders(
            {{[mszip] { return mszip ? cab::MakeMszipEncoder(6) : cab::MakeStoredEncoder(); },
              files}},
            std::move(options));
    }
};

TEST_F(WriterRoundTrip, SetsOfEverySizeStayWithinTheLimitAndExtractExactly) {
    std::vector<TestFile> files = {{"one", Pattern(90000, 1)},
                                   {"dir\\two", {}},
                                   {"three", Pattern(5, 3)},
                                   {"four", Pattern(200000, 4)},
                                   {"five", Pattern(33000, 5)}};
    // Compressible text too, for MSZIP.
    std::vector<uint8_t> text;
    for (int i = 0; text.size() < 150000; ++i) {
        const std::string line = "line " + std::to_string(i * 7919 % 1000) + " of text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    files.push_back({"text", text});
    for (bool mszip : {false, true}) {
        for (uint32_t max : {0u, 33000u, 40000u, 65536u, 100001u}) {
            SCOPED_TRACE(std::to_string(max) + (mszip ? " mszip" : " stored"));
            fs::remove_all(dir_);
            fs::create_directories(dir_ / "out");
            cab::CabinetWriterOptions options;
            options.maxCabinetSize = max;
            options.blockReserveSize = max == 40000 ? 5 : 0;
            options.checksums = max != 65536;
            const auto paths = BuildWith(files, options, mszip);
            if (max == 0) {
                EXPECT_EQ(paths.size(), 1u);
            }
            for (const auto& path : paths) {
                if (max != 0) {
                    EXPECT_LE(fs::file_size(path), max);
                }
            }
            ExtractSet(paths);
            for (const TestFile& file : files) {
                std::string name = file.name;
                for (char& c : name) c = c == '\\' ? '/' : c;
                EXPECT_EQ(ReadAll(dir_ / "out" / name), file.data) << name;
            }
        }
    }
}

TEST_F(WriterRoundTrip, RefusesWhatNoReaderCouldRead) {
    cab::CabinetWriterOptions options;
    options.directory = dir_.string();
    cab::CabinetWriter writer(options);
    cab::CabinetFileInfo info;
    info.name = "early";
    EXPECT_FALSE(writer.AddFile(info, nullptr, 0));  // no folder yet
    cab::CabinetWriter second(options);
    ASSERT_TRUE(second.StartFolder([] { return cab::MakeStoredEncoder(); }));
    info.name = std::string(256, 'n');
    EXPECT_FALSE(second.AddFile(info, nullptr, 0));
    EXPECT_NE(second.Error().find("too long"), std::string::npos);

    options.maxCabinetSize = 60;  // not even a header and one block fit
    cab::CabinetWriter tiny(options);
    ASSERT_TRUE(tiny.StartFolder([] { return cab::MakeStoredEncoder(); }));
    info.name = "a";
    const auto data = Pattern(1000, 1);
    const bool added = tiny.AddFile(info, data.data(), data.size());
    EXPECT_FALSE(added && tiny.Finish());
    EXPECT_NE(tiny.Error().find("too small"), std::string::npos) << tiny.Error();

    cab::CabinetWriter missing(options);
    EXPECT_FALSE(missing.StartFolder([] { return std::unique_ptr<cab::FolderEncoder>(); }));
}

TEST_F(WriterRoundTrip, FoldersOfOnlyEmptyFilesHaveNoBlocks) {
    const auto paths = Build({{{"e1", {}}, {"e2", {}}}, {{"x", Pattern(10, 1)}}});
    const auto bytes = ReadAll(paths[0]);
    EXPECT_EQ(bytes[26], 2);                             // two folders
    EXPECT_EQ(bytes[36 + 4] | (bytes[36 + 5] << 8), 0);  // the first without blocks
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r), 1);
    EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_DONE), (std::vector<std::string>{"e1", "e2", "x"}));
}

}  // namespace
}  // namespace cab_test
