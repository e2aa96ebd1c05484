// Damaged and hostile compound files, made by patching valid ones: each gives
// an error (at open, at opening the element, or on reading it), never a
// crash, a hang or a stream that reads forever.
#include <gtest/gtest.h>

#include <random>

#include "platform/compound_file_format.h"
#include "platform/compound_file_reader.h"
#include "platform/compound_file_writer.h"
#include "tests/platform/compound_test_support.h"

namespace pelmo::platform {
namespace {

namespace cf = compound_format;
using test::TempFolder;

// A file made by our writer, opened for patching.
struct RawFile {
    std::string bytes;
    unsigned shift = 9;

    explicit RawFile(const std::string& path) : bytes(test::ReadFile(path)) {
        shift = Get16(cf::H_SECTOR_SHIFT);
    }
    std::uint32_t Get16(std::size_t at) const {
        return cf::Get16(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
    }
    std::uint32_t Get32(std::size_t at) const {
        return cf::Get32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
    }
    void Put32(std::size_t at, std::uint32_t v) {
        cf::Put32(reinterpret_cast<unsigned char*>(bytes.data()) + at, v);
    }
    std::size_t Sector(std::uint32_t s) const { return (std::size_t{s} + 1) << shift; }
    // Our writer lays the directory and each table out in one run of sectors.
    std::size_t Entry(const std::string& asciiName) const {
        const std::size_t directory = Sector(Get32(cf::H_FIRST_DIRECTORY_SECTOR));
        for (std::size_t at = directory; at + 128 <= bytes.size(); at += 128) {
            std::string name;
            for (std::size_t i = 0; i < 32 && Get16(at + 2 * i); ++i)
                name.push_back(static_cast<char>(Get16(at + 2 * i)));
            if (name == asciiName) return at;
        }
        ADD_FAILURE() << asciiName << " not found";
        return directory;
    }
    std::size_t FatEntry(std::uint32_t sector) const {
        const std::uint32_t perSector = (1u << shift) / 4;
        return Sector(Get32(cf::H_DIFAT + 4 * (sector / perSector))) + 4 * (sector % perSector);
    }
    std::size_t MiniFatEntry(std::uint32_t mini) const {
        return Sector(Get32(cf::H_FIRST_MINI_FAT_SECTOR)) + 4 * mini;
    }
    void Save(const std::string& path) const { test::WriteFile(path, bytes); }
};

// Opens `path` and reads every stream of the whole tree; returns what failed.
std::string OpenAndReadAll(const std::string& path) {
    std::string error;
    auto file = CompoundFile::Open(path, &error);
    if (!file) return "open: " + error;
    std::string failures;
    std::vector<CompoundStorage> pending = {file->Root()};
    std::vector<char> buffer(10240);
    while (!pending.empty()) {
        CompoundStorage storage = pending.back();
        pending.pop_back();
        for (const auto& element : storage.Children()) {
            if (element.kind == CompoundElementKind::Storage) {
                if (auto child = storage.OpenStorage(element, &error))
                    pending.push_back(*child);
                else
                    failures += element.name + ": " + error + "\n";
            } else if (element.kind == CompoundElementKind::Stream) {
                auto stream = storage.OpenStream(element, &error);
                if (!stream) {
                    failures += element.name + ": " + error + "\n";
                    continue;
                }
                std::uint64_t total = 0;
                std::ptrdiff_t n;
                while ((n = stream->Read(buffer.data(), buffer.size())) > 0) total += n;
                if (n < 0) failures += element.name + ": " + stream->Error() + "\n";
                EXPECT_LE(total, element.size);
            }
        }
    }
    return failures;
}

class HostileCompound : public ::testing::Test {
  protected:
    void SetUp() override {
        CompoundFileWriter writer;
        ASSERT_TRUE(writer.AddStream({"big"}, test::PatternBytes(40 * 512, 1)));
        ASSERT_TRUE(writer.AddStream({"small"}, test::PatternBytes(1000, 2)));
        ASSERT_TRUE(writer.AddStream({"dir", "inner"}, "inner"));
        ASSERT_TRUE(writer.Write(temp_ / "valid.pak"));
        ASSERT_EQ(OpenAndReadAll(temp_ / "valid.pak"), "");
    }
    std::string Patched(const std::function<void(RawFile&)>& patch) {
        RawFile raw(temp_ / "valid.pak");
        patch(raw);
        raw.Save(temp_ / "patched.pak");
        return OpenAndReadAll(temp_ / "patched.pak");
    }
    TempFolder temp_;
};

TEST_F(HostileCompound, LoopInAStreamChainFailsTheStream) {
    const std::string result = Patched([](RawFile& raw) {
        const std::uint32_t start = raw.Get32(raw.Entry("big") + cf::E_START_SECTOR);
        raw.Put32(raw.FatEntry(start + 5), start + 2);
    });
    EXPECT_NE(result.find("big: "), std::string::npos) << result;
    EXPECT_EQ(result.find("small"), std::string::npos) << result;
}

TEST_F(HostileCompound, LoopOfTheLastSectorFailsBeforeTheLastBytes) {
    // Every byte of the stream is readable; only the chain's end is wrong.
    const std::string result = Patched([](RawFile& raw) {
        const std::uint32_t start = raw.Get32(raw.Entry("big") + cf::E_START_SECTOR);
        raw.Put32(raw.FatEntry(start + 39), start);
    });
    EXPECT_NE(result.find("big: "), std::string::npos) << result;
}

TEST_F(HostileCompound, SectorsPastTheEndFailTheStream) {
    const std::string result = Patched([](RawFile& raw) {
        const std::uint32_t start = raw.Get32(raw.Entry("big") + cf::E_START_SECTOR);
        raw.Put32(raw.FatEntry(start + 3), 0x00FFFFFF);
    });
    EXPECT_NE(result.find("big: "), std::string::npos) << result;
    const std::string startPast =
        Patched([](RawFile& raw) { raw.Put32(raw.Entry("big") + cf::E_START_SECTOR, 0x7FFFFFFF); });
    EXPECT_NE(startPast.find("big: "), std::string::npos) << startPast;
}

TEST_F(HostileCompound, SizeLargerThanTheFileFailsAtOpeningTheStream) {
    const std::string result =
        Patched([](RawFile& raw) { raw.Put32(raw.Entry("big") + cf::E_SIZE, 0x7FFFFFFF); });
    EXPECT_NE(result.find("larger than the file"), std::string::npos) << result;
}

TEST_F(HostileCompound, HugeSizeInAVersion4FileFails) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"big"}, test::PatternBytes(20000, 1)));
    ASSERT_TRUE(writer.Write(temp_ / "v4.pak", nullptr, 4));
    RawFile raw(temp_ / "v4.pak");
    raw.Put32(raw.Entry("big") + cf::E_SIZE + 4, 0x40000000);
    raw.Save(temp_ / "v4bad.pak");
    EXPECT_NE(OpenAndReadAll(temp_ / "v4bad.pak").find("larger than the file"), std::string::npos);
}

TEST_F(HostileCompound, VersionThreeIgnoresTheHighHalfOfASize) {
    const std::string result =
        Patched([](RawFile& raw) { raw.Put32(raw.Entry("big") + cf::E_SIZE + 4, 0xDEADBEEF); });
    EXPECT_EQ(result, "");
}

TEST_F(HostileCompound, BrokenMiniChainsFailTheStream) {
    const std::string loop = Patched([](RawFile& raw) {
        const std::uint32_t start = raw.Get32(raw.Entry("small") + cf::E_START_SECTOR);
        raw.Put32(raw.MiniFatEntry(start + 3), start + 1);
    });
    EXPECT_NE(loop.find("small: "), std::string::npos) << loop;
    const std::string past = Patched([](RawFile& raw) {
        const std::uint32_t start = raw.Get32(raw.Entry("small") + cf::E_START_SECTOR);
        raw.Put32(raw.MiniFatEntry(start), 5000);
    });
    EXPECT_NE(past.find("small: "), std::string::npos) << past;
    const std::string shortChain = Patched([](RawFile& raw) {
        const std::uint32_t start = raw.Get32(raw.Entry("small") + cf::E_START_SECTOR);
        raw.Put32(raw.MiniFatEntry(start + 2), cf::ENDOFCHAIN);
    });
    EXPECT_NE(shortChain.find("small: "), std::string::npos) << shortChain;
}

TEST_F(HostileCompound, CyclesInTheDirectoryTreeFailTheOpen) {
    // A sibling link back to the entry itself.
    EXPECT_NE(Patched([](RawFile& raw) {
                  const std::size_t small = raw.Entry("small");
                  const std::uint32_t id = static_cast<std::uint32_t>(
                      (small - raw.Sector(raw.Get32(cf::H_FIRST_DIRECTORY_SECTOR))) / 128);
                  raw.Put32(small + cf::E_LEFT, id);
              }).find("open: "),
              std::string::npos);
    // A storage whose child tree holds the root.
    EXPECT_NE(
        Patched([](RawFile& raw) { raw.Put32(raw.Entry("dir") + cf::E_CHILD, 0); }).find("open: "),
        std::string::npos);
    // A link past the directory.
    EXPECT_NE(Patched([](RawFile& raw) {
                  raw.Put32(raw.Entry("dir") + cf::E_CHILD, 100000);
              }).find("open: "),
              std::string::npos);
}

TEST_F(HostileCompound, BrokenTablesFailTheOpen) {
    // The directory's chain loops.
    EXPECT_NE(Patched([](RawFile& raw) {
                  const std::uint32_t dir = raw.Get32(cf::H_FIRST_DIRECTORY_SECTOR);
                  raw.Put32(raw.FatEntry(dir), dir);
              }).find("open: "),
              std::string::npos);
    // More allocation table sectors than the file has.
    EXPECT_NE(
        Patched([](RawFile& raw) { raw.Put32(cf::H_FAT_SECTORS, 0xFFFFFFFF); }).find("open: "),
        std::string::npos);
    // An allocation table sector past the end.
    EXPECT_NE(Patched([](RawFile& raw) { raw.Put32(cf::H_DIFAT, 0x10000); }).find("open: "),
              std::string::npos);
    // No root entry.
    EXPECT_NE(Patched([](RawFile& raw) {
                  raw.bytes[raw.Sector(raw.Get32(cf::H_FIRST_DIRECTORY_SECTOR)) + cf::E_TYPE] = 1;
              }).find("open: "),
              std::string::npos);
    // Truncated in the middle of the directory.
    EXPECT_NE(Patched([](RawFile& raw) {
                  raw.bytes.resize(raw.Sector(raw.Get32(cf::H_FIRST_DIRECTORY_SECTOR)) + 100);
              }).find("open: "),
              std::string::npos);
}

TEST_F(HostileCompound, DeepNestingIsRefused) {
    CompoundFileWriter::Path path;
    for (int i = 0; i < 100; ++i) path.push_back("d");
    CompoundFileWriter fine;
    ASSERT_TRUE(fine.AddStream(path, "deep"));
    ASSERT_TRUE(fine.Write(temp_ / "deep100.pak"));
    EXPECT_EQ(OpenAndReadAll(temp_ / "deep100.pak"), "");
    for (int i = 0; i < 100; ++i) path.push_back("d");
    CompoundFileWriter tooDeep;
    ASSERT_TRUE(tooDeep.AddStream(path, "deeper"));
    ASSERT_TRUE(tooDeep.Write(temp_ / "deep200.pak"));
    EXPECT_NE(OpenAndReadAll(temp_ / "deep200.pak").find("nested too deeply"), std::string::npos);
}

TEST_F(HostileCompound, RandomDamageNeverCrashes) {
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"big"}, test::PatternBytes(9000, 1)));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(writer.AddStream({"s" + std::to_string(i % 3), "n" + std::to_string(i)},
                                     test::PatternBytes(static_cast<std::size_t>(i * 150), i)));
    ASSERT_TRUE(writer.Write(temp_ / "base.pak"));
    const std::string base = test::ReadFile(temp_ / "base.pak");
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = base;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int k = 0; k < flips; ++k) {
            // Mostly the header and the tables at the end of the file.
            const std::size_t at =
                (random() % 2) ? random() % 512 : bytes.size() - 1 - random() % 2048;
            bytes[at] = static_cast<char>(random());
        }
        test::WriteFile(temp_ / "damaged.pak", bytes);
        OpenAndReadAll(temp_ / "damaged.pak");
    }
}

}  // namespace
}  // namespace pelmo::platform
