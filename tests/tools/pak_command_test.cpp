// pelmo-tool pak as a child process: unpacking files of independent writers
// reproduces their trees byte for byte, packing makes files they can read,
// and hostile files fail cleanly.
#include <gtest/gtest.h>

#include "platform/compound_file_writer.h"
#include "tests/platform/compound_test_support.h"

namespace pelmo {
namespace {

using test::TempFolder;

const std::string TOOL = std::string(PELMO_BINARY_DIR) + "/tools/pelmo-tool";

// Runs pelmo-tool with its standard output and error in files.
int Tool(const std::vector<std::string>& args, const TempFolder& temp, std::string* out = nullptr,
         std::string* err = nullptr) {
    std::string command = "'" + TOOL + "'";
    for (const auto& a : args) command += " '" + a + "'";
    command += " > '" + (temp / "out.txt") + "' 2> '" + (temp / "err.txt") + "'";
    const int status = std::system(command.c_str());
    if (out) *out = test::ReadFile(temp / "out.txt");
    if (err) *err = test::ReadFile(temp / "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PakCommand, UnpackReproducesFilesOfIndependentWritersExactly) {
    TempFolder temp;
    test::MakeSampleTree(temp.path() / "src", {.manySiblings = true, .bigStream = true});
    ASSERT_TRUE(test::MakeWithGsf(temp.path() / "src", temp / "gsf.pak"));
    ASSERT_TRUE(test::MakeWithCfb(temp.path() / "src", temp / "cfb.pak"));
    const auto expected = test::SnapshotFolder(temp.path() / "src");
    for (const std::string name : {"gsf", "cfb"}) {
        std::string out, err;
        ASSERT_EQ(Tool({"pak", "unpack", temp / (name + ".pak"), temp / name}, temp, &out, &err), 0)
            << name << ": " << err;
        auto unpacked = test::SnapshotFolder(temp.path() / name);
        unpacked.erase("\x01Sh33tJ5");  // cfb's own marker
        EXPECT_TRUE(unpacked == expected) << name;
        EXPECT_NE(out.find(" files, "), std::string::npos);
    }
}

TEST(PakCommand, PackMakesFilesThatAnIndependentReaderReads) {
    TempFolder temp;
    test::MakeSampleTree(temp.path() / "src", {.manySiblings = true});
    ASSERT_EQ(Tool({"pak", "pack", temp / "src", temp / "ours.pak"}, temp), 0);
    ASSERT_TRUE(test::ListWithCfb(temp / "ours.pak", temp / "listing.txt"));
    const std::string listing = test::ReadFile(temp / "listing.txt");
    for (const auto& [path, content] : test::SnapshotFolder(temp.path() / "src")) {
        if (content == "<folder>") continue;
        const std::string line = "Root Entry/" + path + " " + std::to_string(content.size()) + " ";
        EXPECT_NE(listing.find(line), std::string::npos) << line;
    }
    // And the round trip through our own unpack.
    ASSERT_EQ(Tool({"pak", "unpack", temp / "ours.pak", temp / "back"}, temp), 0);
    EXPECT_TRUE(test::SnapshotFolder(temp.path() / "back") ==
                test::SnapshotFolder(temp.path() / "src"));
}

TEST(PakCommand, ListShowsKindsSizesAndPaths) {
    TempFolder temp;
    platform::CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"bin", "core.dll"}, std::string(5000, 'x')));
    ASSERT_TRUE(writer.AddStream({"a.txt"}, "hello"));
    ASSERT_TRUE(writer.Write(temp / "f.pak"));
    std::string out;
    ASSERT_EQ(Tool({"pak", "list", temp / "f.pak"}, temp, &out), 0);
    EXPECT_EQ(out,
              "storage            -  bin/\n"
              "stream          5000  bin/core.dll\n"
              "stream             5  a.txt\n");
}

TEST(PakCommand, HostileAndWrongInputFailCleanly) {
    TempFolder temp;
    std::string err;
    test::WriteFile(temp / "junk.pak", std::string(3000, 'j'));
    EXPECT_EQ(Tool({"pak", "unpack", temp / "junk.pak", temp / "out"}, temp, nullptr, &err), 1);
    EXPECT_NE(err.find("not a compound file"), std::string::npos) << err;
    EXPECT_FALSE(test::fs::exists(temp.path() / "out"));
    EXPECT_EQ(Tool({"pak", "list", temp / "missing.pak"}, temp), 1);
    EXPECT_EQ(Tool({"pak", "frobnicate"}, temp), 2);
    EXPECT_EQ(Tool({"pak", "unpack", temp / "junk.pak"}, temp), 2);

    // A stream whose chain is cut: the rest unpacks, the command reports it.
    platform::CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"good"}, "fine"));
    ASSERT_TRUE(writer.AddStream({"zbad"}, std::string(20000, 'b')));
    ASSERT_TRUE(writer.Write(temp / "f.pak"));
    std::string bytes = test::ReadFile(temp / "f.pak");
    // The regular stream's first sector is sector 0; its allocation entry
    // is the table's first word.
    const std::size_t fat = (std::size_t{static_cast<unsigned char>(bytes[76])} + 1) * 512;
    bytes[fat] = '\x7f';
    bytes[fat + 1] = bytes[fat + 2] = bytes[fat + 3] = '\0';
    test::WriteFile(temp / "f.pak", bytes);
    EXPECT_EQ(Tool({"pak", "unpack", temp / "f.pak", temp / "cut"}, temp, nullptr, &err), 1);
    EXPECT_NE(err.find("zbad"), std::string::npos) << err;
    EXPECT_EQ(test::ReadFile(temp.path() / "cut" / "good"), "fine");
    EXPECT_FALSE(test::fs::exists(temp.path() / "cut" / "zbad"));
}

TEST(PakCommand, PackRefusesNamesTheFormatCannotHold) {
    TempFolder temp;
    test::WriteFile(temp.path() / "src" / std::string(40, 'n'), "x");
    std::string err;
    EXPECT_EQ(Tool({"pak", "pack", temp / "src", temp / "f.pak"}, temp, nullptr, &err), 1);
    EXPECT_NE(err.find("1 to 31"), std::string::npos) << err;
    EXPECT_FALSE(test::fs::exists(temp.path() / "f.pak"));
}

}  // namespace
}  // namespace pelmo
