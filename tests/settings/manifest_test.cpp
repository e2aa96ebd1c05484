#include "settings/manifest.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/http_server.h"
#include "tests/support/scratch_folder.h"

namespace pelmo {
namespace {

using testing::ScratchFolder;
using testing::TestHttpServer;

const char* const DECLARATION = "<?xml version=\"1.0\"?>\n";

// The worked example: installed 2003; 2002 is older, another element is
// ignored, 2005 and 2004 are kept and sorted.
std::string WorkedExample(const std::string& otherChild = "<notes kind=\"x\"/>",
                          const std::string& declaration = DECLARATION,
                          const std::string& rootName = "versions") {
    return declaration + "<" + rootName +
           " SrcPath=\"http://updates.example/pelmo\">\n"
           "  <version ID=\"2002\" CABSIZE=\"150000\"/>\n"
           "  <version ID=\"2005\" CABSIZE=\"300000\"/>\n"
           "  " +
           otherChild +
           "\n"
           "  <version ID=\"2004\" CABSIZE=\"200000\"/>\n"
           "</" +
           rootName + ">\n";
}

std::string Manifest(const std::string& children, const std::string& srcPath = "base") {
    return std::string(DECLARATION) + "<versions SrcPath=\"" + srcPath + "\">" + children +
           "</versions>";
}

enum class Delivery { Http, LocalPath };

// Each manifest is served both by the test HTTP server and as a local path.
class ManifestLoad : public ::testing::TestWithParam<Delivery> {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<ScratchFolder>();
        server_ = std::make_unique<TestHttpServer>(folder_->path());
    }
    static void TearDownTestSuite() {
        server_.reset();
        folder_.reset();
    }

    // Publishes bytes and answers the address a client would be given.
    std::string Publish(const std::string& bytes) {
        const std::string name = "m" + std::to_string(++counter_) + ".xml";
        const std::string path = folder_->Write(name, bytes);
        return GetParam() == Delivery::Http ? server_->Url("/" + name) : path;
    }

    int Load(const std::string& bytes, int32_t installed) {
        const std::string address = Publish(bytes);
        ManifestSettings settings;
        settings.readInstalledVersion = [installed] { return installed; };
        settings.readManifestAddress = [address] { return address; };
        reason_.clear();
        return FetchManifest(state_, settings, {}, &reason_);
    }

    std::vector<std::pair<int32_t, int32_t>> Kept() const {
        std::vector<std::pair<int32_t, int32_t>> kept;
        for (const VersionEntry& e : state_.versions) kept.emplace_back(e.id, e.packageBytes);
        return kept;
    }

    using Pairs = std::vector<std::pair<int32_t, int32_t>>;
    ManifestState state_;
    std::string reason_;
    static inline std::unique_ptr<ScratchFolder> folder_;
    static inline std::unique_ptr<TestHttpServer> server_;
    static inline int counter_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Both, ManifestLoad, ::testing::Values(Delivery::Http, Delivery::LocalPath),
                         [](const auto& info) {
                             return info.param == Delivery::Http ? "Http" : "LocalPath";
                         });

TEST_P(ManifestLoad, WorkedExample) {
    ASSERT_EQ(Load(WorkedExample(), 2003), 1) << reason_;
    EXPECT_EQ(Kept(), (Pairs{{2004, 200000}, {2005, 300000}}));
    EXPECT_EQ(state_.latestVersion, 2005);
    EXPECT_EQ(state_.installedVersion, 2003);
    EXPECT_EQ(state_.totalDownloadBytes, 500000);
    EXPECT_EQ(state_.completedPackageBytes, 0);
    EXPECT_EQ(state_.packageBaseUrl, "http://updates.example/pelmo");
    EXPECT_TRUE(HasNewerVersion(state_.installedVersion, state_.latestVersion));
}

TEST_P(ManifestLoad, RefusedShapes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"comment in place of the other element", WorkedExample("<!-- a comment -->")},
        {"processing instruction child", WorkedExample("<?note x?>")},
        {"CDATA child", WorkedExample("<![CDATA[x]]>")},
        {"text child", WorkedExample("text")},
        {"no declaration", WorkedExample("<notes/>", "")},
        {"root named Versions", WorkedExample("<notes/>", DECLARATION, "Versions")},
        {"root named version", WorkedExample("<notes/>", DECLARATION, "version")},
        {"comment before the root",
         std::string(DECLARATION) + "<!-- c -->" + WorkedExample("<notes/>", "")},
        {"processing instruction before the root",
         std::string(DECLARATION) + "<?pi x?>" + WorkedExample("<notes/>", "")},
        {"doctype before the root",
         std::string(DECLARATION) + "<!DOCTYPE versions>" + WorkedExample("<notes/>", "")},
        {"second root element", WorkedExample() + "<versions/>"},
        {"text after the root", WorkedExample() + "tail"},
        {"not well-formed", Manifest("<version ID=\"2004\">")},
        {"duplicate attribute", Manifest("<version ID=\"2004\" ID=\"2005\"/>")},
        {"empty document", ""},
        {"declaration only", DECLARATION},
    };
    for (const auto& [name, text] : cases) {
        EXPECT_EQ(Load(text, 2003), 0) << name;
        EXPECT_FALSE(reason_.empty()) << name;
    }
}

TEST_P(ManifestLoad, AcceptedShapes) {
    // Any single node may stand before the root, not only the declaration.
    EXPECT_EQ(Load("<!-- generated -->" + WorkedExample("<notes/>", ""), 2003), 1) << reason_;
    EXPECT_EQ(Kept(), (Pairs{{2004, 200000}, {2005, 300000}}));
    // Comments and instructions after the root; white space everywhere.
    EXPECT_EQ(Load(WorkedExample() + "<!-- end -->\n<?done?>\n", 2003), 1) << reason_;
    EXPECT_EQ(Load(Manifest("\n\t <version ID='2004' CABSIZE='1'/> \r\n "), 2003), 1) << reason_;
    // Text, comments and children inside a version element are ignored.
    EXPECT_EQ(Load(Manifest("<version ID='2004' CABSIZE='7'>x<!--c--><a/></version>"), 2003), 1);
    EXPECT_EQ(Kept(), (Pairs{{2004, 7}}));
    // An empty root.
    EXPECT_EQ(Load(Manifest(""), 2003), 1);
    EXPECT_TRUE(state_.versions.empty());
}

TEST_P(ManifestLoad, NamesAreCaseSensitive) {
    ASSERT_EQ(
        Load(std::string(DECLARATION) +
                 "<versions srcpath='x'><Version ID='2005' CABSIZE='1'/>"
                 "<version id='2006' CABSIZE='1'/><version ID='2007' cabsize='9'/></versions>",
             2003),
        1);
    EXPECT_EQ(state_.packageBaseUrl, "");
    EXPECT_EQ(Kept(), (Pairs{{2007, 0}}));
}

TEST_P(ManifestLoad, InstalledVersionMissingKeepsEveryPositiveId) {
    ASSERT_EQ(Load(WorkedExample() + "", 0), 1);
    EXPECT_EQ(Kept(), (Pairs{{2002, 150000}, {2004, 200000}, {2005, 300000}}));
    EXPECT_EQ(state_.totalDownloadBytes, 650000);
}

TEST_P(ManifestLoad, NumbersReadLikeAtol) {
    ASSERT_EQ(Load(Manifest("<version ID='2005abc' CABSIZE=' 12kb'/>"
                            "<version ID='   2006' CABSIZE='+5'/>"
                            "<version ID='abc' CABSIZE='3'/>"
                            "<version ID='+2007' CABSIZE='size'/>"
                            "<version CABSIZE='4'/>"),
                   2003),
              1);
    EXPECT_EQ(Kept(), (Pairs{{2005, 12}, {2006, 5}, {2007, 0}}));
    // Below a negative installed version, an unreadable or missing ID (0) is kept.
    ASSERT_EQ(Load(Manifest("<version ID='abc' CABSIZE='3'/><version CABSIZE='4'/>"
                            "<version ID='-3' CABSIZE='1'/>"),
                   -5),
              1);
    EXPECT_EQ(Kept(), (Pairs{{-3, 1}, {0, 3}, {0, 4}}));
    EXPECT_EQ(state_.latestVersion, 0);
}

TEST_P(ManifestLoad, DuplicatesKeptInManifestOrder) {
    ASSERT_EQ(Load(Manifest("<version ID='2005' CABSIZE='5'/><version ID='2004' CABSIZE='1'/>"
                            "<version ID='2004' CABSIZE='2'/><version ID='2004' CABSIZE='3'/>"),
                   2003),
              1);
    EXPECT_EQ(Kept(), (Pairs{{2004, 1}, {2004, 2}, {2004, 3}, {2005, 5}}));
    EXPECT_EQ(state_.totalDownloadBytes, 11);
}

TEST_P(ManifestLoad, NothingNewer) {
    ASSERT_EQ(
        Load(Manifest("<version ID='2003' CABSIZE='5'/><version ID='17' CABSIZE='1'/>"), 2003), 1);
    EXPECT_TRUE(state_.versions.empty());
    EXPECT_EQ(state_.latestVersion, 2003);
    EXPECT_EQ(state_.totalDownloadBytes, 0);
    EXPECT_FALSE(HasNewerVersion(state_.installedVersion, state_.latestVersion));
}

TEST_P(ManifestLoad, ResetsHappenFirstAndStayOnFailure) {
    state_.versions = {{9999, 1}};
    state_.totalDownloadBytes = 77;
    state_.completedPackageBytes = 66;
    state_.latestVersion = 9999;
    state_.packageBaseUrl = "previous";
    ASSERT_EQ(Load("<not xml", 2003), 0);
    EXPECT_TRUE(state_.versions.empty());
    EXPECT_EQ(state_.totalDownloadBytes, 0);
    EXPECT_EQ(state_.completedPackageBytes, 0);
    EXPECT_EQ(state_.installedVersion, 2003);
    EXPECT_EQ(state_.latestVersion, 2003);
    EXPECT_EQ(state_.packageBaseUrl, "previous");  // replaced only once the root is accepted

    // A bad child after some kept entries: they stay, unsorted.
    ASSERT_EQ(Load(Manifest("<version ID='2006' CABSIZE='1'/><version ID='2005' CABSIZE='1'/>"
                            "<!-- stop -->",
                            "new"),
                   2003),
              0);
    EXPECT_EQ(Kept(), (Pairs{{2006, 1}, {2005, 1}}));
    EXPECT_EQ(state_.packageBaseUrl, "new");
}

TEST_P(ManifestLoad, SizeCap) {
    const std::string padding(MAX_MANIFEST_BYTES, ' ');
    const std::string base = Manifest("<version ID='2004' CABSIZE='1'/>");
    EXPECT_EQ(Load(base.substr(0, base.size() - 11) + padding + "</versions>", 2003), 0);
    const std::string fits = padding.substr(0, MAX_MANIFEST_BYTES - base.size());
    EXPECT_EQ(Load(base.substr(0, base.size() - 11) + fits + "</versions>", 2003), 1) << reason_;
}

// UTF-8 to UTF-16 for the texts of these tests (no characters beyond the BMP).
std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned code;
        if (c < 0x80) {
            code = c, i += 1;
        } else if (c < 0xE0) {
            code = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F), i += 2;
        } else {
            code = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F), i += 3;
        }
        const char high = static_cast<char>(code >> 8), low = static_cast<char>(code & 0xFF);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

const std::string CHINESE_UTF8 = "\xE4\xB8\xAD\xE6\x96\x87";  // two Chinese characters
const std::string CHINESE_GBK = "\xD6\xD0\xCE\xC4";           // the same in GBK

TEST_P(ManifestLoad, Utf16WithByteOrderMark) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
        "<versions SrcPath=\"http://h/" +
        CHINESE_UTF8 + "/\"><version ID=\"2004\" CABSIZE=\"10\"/></versions>";
    for (bool bigEndian : {false, true}) {
        ASSERT_EQ(Load(Utf16(text, bigEndian), 2003), 1) << reason_;
        EXPECT_EQ(state_.packageBaseUrl, "http://h/" + CHINESE_UTF8 + "/");
        EXPECT_EQ(Kept(), (Pairs{{2004, 10}}));
    }
    // UTF-8 with its byte order mark.
    ASSERT_EQ(Load("\xEF\xBB\xBF" + text, 2003), 1) << reason_;
    EXPECT_EQ(state_.packageBaseUrl, "http://h/" + CHINESE_UTF8 + "/");
}

TEST_P(ManifestLoad, ChineseCodePagesAreConverted) {
    for (const std::string encoding : {"GBK", "gb2312", "GB18030"}) {
        const std::string text = "<?xml version=\"1.0\" encoding=\"" + encoding +
                                 "\"?>\n<versions SrcPath=\"http://h/" + CHINESE_GBK +
                                 "\"><version ID=\"2004\" CABSIZE=\"10\"/></versions>";
        ASSERT_EQ(Load(text, 2003), 1) << encoding << ": " << reason_;
        EXPECT_EQ(state_.packageBaseUrl, "http://h/" + CHINESE_UTF8) << encoding;
    }
    EXPECT_EQ(Load("<?xml version='1.0' encoding='x-no-such-code-page'?><versions/>", 0), 0);
    EXPECT_EQ(Load("<?xml version='1.0' encoding='UTF-16'?><versions/>", 0), 0);  // no mark
    // A byte that is not valid GBK.
    EXPECT_EQ(Load("<?xml version='1.0' encoding='GBK'?><versions SrcPath='\x81'/>", 0), 0);
}

TEST_P(ManifestLoad, ThresholdIsReadAgainAfterTheLoad) {
    const std::string address = Publish(WorkedExample());
    int reads = 0;
    ManifestSettings settings;
    settings.readInstalledVersion = [&reads] { return ++reads == 1 ? 2003 : 2004; };
    settings.readManifestAddress = [address] { return address; };
    ASSERT_EQ(FetchManifest(state_, settings), 1);
    EXPECT_EQ(state_.installedVersion, 2003);
    EXPECT_EQ(Kept(), (Pairs{{2005, 300000}}));
}

TEST(ManifestFetch, MissingAddressOrResourceFails) {
    ManifestState state;
    ManifestSettings settings;
    settings.readInstalledVersion = [] { return 7; };
    settings.readManifestAddress = [] { return std::string(); };
    std::string reason;
    EXPECT_EQ(FetchManifest(state, settings, {}, &reason), 0);
    EXPECT_EQ(state.installedVersion, 7);
    EXPECT_EQ(state.latestVersion, 7);

    ScratchFolder folder;
    TestHttpServer server(folder.path());
    settings.readManifestAddress = [&] { return server.Url("/missing.xml"); };
    EXPECT_EQ(FetchManifest(state, settings, {}, &reason), 0);
    EXPECT_NE(reason.find("404"), std::string::npos) << reason;
    settings.readManifestAddress = [&] { return folder / "missing.xml"; };
    EXPECT_EQ(FetchManifest(state, settings, {}, &reason), 0);
}

TEST(ManifestNumbers, ReadDecimal) {
    EXPECT_EQ(ReadDecimal("2005"), 2005);
    EXPECT_EQ(ReadDecimal(" \t\n2005x"), 2005);
    EXPECT_EQ(ReadDecimal("-3"), -3);
    EXPECT_EQ(ReadDecimal("+-3"), 0);
    EXPECT_EQ(ReadDecimal("- 3"), 0);
    EXPECT_EQ(ReadDecimal(""), 0);
    EXPECT_EQ(ReadDecimal(nullptr), 0);
    EXPECT_EQ(ReadDecimal("0x10"), 0);
    EXPECT_EQ(ReadDecimal("2147483647"), 2147483647);
    EXPECT_EQ(ReadDecimal("99999999999999999999"), INT32_MAX);  // saturates
    EXPECT_EQ(ReadDecimal("-99999999999999999999"), INT32_MIN);
}

}  // namespace
}  // namespace pelmo

namespace pelmo {
namespace {

TEST(ManifestHashes, KeptVersionsCarryWellFormedSha256) {
    const std::string upper(64, 'A');
    const std::string children = "<version ID=\"1\"/><version ID=\"5\" SHA256=\"" + upper +
                                 "\"/><version ID=\"6\" SHA256=\"" + std::string(64, '0') + "\"/>";
    ManifestState state;
    std::string reason;
    ASSERT_EQ(ReadManifest(Manifest(children), 1, state, &reason, true), 1) << reason;
    ASSERT_EQ(state.versions.size(), 2u);  // version 1 is not kept: it needs no hash
    EXPECT_EQ(state.versions[0].sha256, std::string(64, 'a'));

    const std::string refused[] = {
        "<version ID=\"5\" SHA256=\"" + std::string(63, 'a') + "\"/>",
        "<version ID=\"5\" SHA256=\"" + std::string(63, 'a') + "g\"/>",
        "<version ID=\"5\" SHA256=\"\"/>",
    };
    for (const std::string& child : refused) {
        for (const bool required : {false, true}) {
            ManifestState fresh;
            EXPECT_EQ(ReadManifest(Manifest(child), 1, fresh, &reason, required), 0) << child;
            EXPECT_TRUE(fresh.trustFailed);
            EXPECT_EQ(reason, "version 5: SHA256 is not 64 hexadecimal digits");
        }
    }
    // Absent: fine unless the client requires hashes.
    ManifestState unsigned_;
    EXPECT_EQ(ReadManifest(Manifest("<version ID=\"5\"/>"), 1, unsigned_, &reason), 1);
    EXPECT_EQ(unsigned_.versions.at(0).sha256, "");
    ManifestState required;
    EXPECT_EQ(ReadManifest(Manifest("<version ID=\"5\"/>"), 1, required, &reason, true), 0);
    EXPECT_EQ(reason, "version 5: no SHA256, and the client requires one");
}

}  // namespace
}  // namespace pelmo
