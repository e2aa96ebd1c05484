// The reader against compound files from three independent writers (gsf,
// cfb, our own in both versions): every storage, stream and byte arrives,
// children come in the format's name order.
#include "platform/compound_file_reader.h"

#include <gtest/gtest.h>

#include "platform/compound_file_format.h"
#include "platform/compound_file_names.h"
#include "platform/compound_file_writer.h"
#include "tests/platform/compound_test_support.h"

namespace pelmo::platform {
namespace {

using test::TempFolder;

// Reads the whole tree into relative path -> content, as SnapshotFolder does.
void ReadTree(const CompoundStorage& storage, const std::string& prefix,
              std::map<std::string, std::string>& out, std::size_t chunk) {
    std::vector<CompoundElement> children = storage.Children();
    for (std::size_t i = 1; i < children.size(); ++i) {
        std::u16string a, b;
        ASSERT_TRUE(Utf8ToUtf16(children[i - 1].name, a));
        ASSERT_TRUE(Utf8ToUtf16(children[i].name, b));
        EXPECT_LT(CompareElementNames(a, b), 0)
            << children[i - 1].name << " / " << children[i].name;
    }
    for (const auto& element : children) {
        const std::string path = prefix + element.name;
        if (element.kind == CompoundElementKind::Storage) {
            out[path] = "<folder>";
            auto child = storage.OpenStorage(element);
            ASSERT_TRUE(child) << path;
            ReadTree(*child, path + "/", out, chunk);
        } else if (element.kind == CompoundElementKind::Stream) {
            std::string error;
            auto stream = storage.OpenStream(element, &error);
            ASSERT_TRUE(stream) << path << ": " << error;
            std::string content, buffer(chunk, '\0');
            std::ptrdiff_t n;
            while ((n = stream->Read(buffer.data(), buffer.size())) > 0)
                content.append(buffer, 0, n);
            ASSERT_EQ(n, 0) << path << ": " << stream->Error();
            EXPECT_EQ(content.size(), element.size) << path;
            out[path] = std::move(content);
        }
    }
}

bool MakeWithOurWriter(const test::fs::path& source, const std::string& out, int version) {
    CompoundFileWriter writer;
    for (const auto& entry : test::fs::recursive_directory_iterator(source)) {
        CompoundFileWriter::Path path;
        for (const auto& part : test::fs::relative(entry.path(), source))
            path.push_back(part.string());
        if (entry.is_directory()
                ? !writer.AddStorage(path)
                : !writer.AddStreamFromFile(path, entry.path().string(), entry.file_size()))
            return false;
    }
    std::string error;
    return writer.Write(out, &error, version);
}

class ReaderInterop : public ::testing::TestWithParam<std::string> {
  protected:
    bool Make(const test::fs::path& source, const std::string& out) {
        if (GetParam() == "gsf") return test::MakeWithGsf(source, out);
        if (GetParam() == "cfb") return test::MakeWithCfb(source, out);
        return MakeWithOurWriter(source, out, GetParam() == "ours-v4" ? 4 : 3);
    }
};

TEST_P(ReaderInterop, ReadsEveryElementAndByteInNameOrder) {
    TempFolder temp;
    test::MakeSampleTree(temp.path() / "src", {.manySiblings = true, .bigStream = true});
    const std::string file = temp / "content.pak";
    ASSERT_TRUE(Make(temp.path() / "src", file)) << GetParam() << " could not make the file";

    // The big stream makes the allocation table outgrow the header's 109 slots.
    const std::string raw = test::ReadFile(file);
    ASSERT_GE(raw.size(), 512u);
    if (GetParam() != "ours-v4") {
        EXPECT_GT(compound_format::Get32(reinterpret_cast<const unsigned char*>(raw.data()) +
                                         compound_format::H_DIFAT_SECTORS),
                  0u);
    }

    std::string error;
    auto compound = CompoundFile::Open(file, &error);
    ASSERT_TRUE(compound) << error;
    EXPECT_EQ(compound->MajorVersion(), GetParam() == "ours-v4" ? 4 : 3);
    for (std::size_t chunk : {std::size_t{10240}, std::size_t{777}}) {
        std::map<std::string, std::string> tree;
        ReadTree(compound->Root(), "", tree, chunk);
        tree.erase("\x01Sh33tJ5");  // cfb's own marker
        const auto expected = test::SnapshotFolder(temp.path() / "src");
        ASSERT_EQ(tree.size(), expected.size());
        for (const auto& [path, content] : expected) {
            ASSERT_TRUE(tree.count(path)) << path;
            EXPECT_TRUE(tree[path] == content) << path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, ReaderInterop,
                         ::testing::Values("gsf", "cfb", "ours-v3", "ours-v4"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (auto& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(CompoundReader, FindIgnoresLetterCaseAndListsKinds) {
    TempFolder temp;
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"Bin", "Core.DLL"}, "abc"));
    ASSERT_TRUE(writer.AddStorage({"empty"}));
    ASSERT_TRUE(writer.Write(temp / "f.pak"));
    auto file = CompoundFile::Open(temp / "f.pak");
    ASSERT_TRUE(file);
    auto bin = file->Root().Find("bIN");
    ASSERT_TRUE(bin);
    EXPECT_EQ(bin->kind, CompoundElementKind::Storage);
    auto storage = file->Root().OpenStorage(*bin);
    ASSERT_TRUE(storage);
    auto dll = storage->Find("core.dll");
    ASSERT_TRUE(dll);
    EXPECT_EQ(dll->name, "Core.DLL");
    EXPECT_EQ(dll->size, 3u);
    EXPECT_FALSE(storage->OpenStorage(*dll));
    EXPECT_FALSE(file->Root().OpenStream(*bin));
    auto empty = file->Root().Find("EMPTY");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(file->Root().OpenStorage(*empty)->Children().empty());
}

TEST(CompoundReader, OpensExclusively) {
    TempFolder temp;
    CompoundFileWriter writer;
    ASSERT_TRUE(writer.AddStream({"a"}, "1"));
    ASSERT_TRUE(writer.Write(temp / "f.pak"));
    auto first = CompoundFile::Open(temp / "f.pak");
    ASSERT_TRUE(first);
    std::string error;
    EXPECT_FALSE(CompoundFile::Open(temp / "f.pak", &error));
    EXPECT_NE(error.find("in use"), std::string::npos);
    // A stream keeps the file (and its lock) after the file object is gone.
    auto element = first->Root().Find("a");
    auto stream = first->Root().OpenStream(*element);
    first.reset();
    EXPECT_FALSE(CompoundFile::Open(temp / "f.pak"));
    stream.reset();
    EXPECT_TRUE(CompoundFile::Open(temp / "f.pak"));
}

TEST(CompoundReader, RefusesMissingFoldersAndOtherFiles) {
    TempFolder temp;
    std::string error;
    EXPECT_FALSE(CompoundFile::Open(temp / "missing.pak", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(CompoundFile::Open(temp.path().string()));
    test::WriteFile(temp / "text.pak", std::string(4096, 'x'));
    EXPECT_FALSE(CompoundFile::Open(temp / "text.pak", &error));
    EXPECT_NE(error.find("signature"), std::string::npos);
}

}  // namespace
}  // namespace pelmo::platform
