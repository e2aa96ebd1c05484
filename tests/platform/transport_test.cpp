#include "platform/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/http_server.h"
#include "tests/support/scratch_folder.h"

namespace pelmo {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::TestHttpServer;

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return data;
}

// Files of a folder whose name starts with prefix (temporary leftovers).
int CountStartingWith(const std::string& folder, const std::string& prefix) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
    }
    return count;
}

TransferOptions FastOptions() {
    TransferOptions options;
    options.connectTimeoutMs = 5000;
    options.stallTimeoutMs = 1000;
    return options;
}

TEST(TransportAddress, SchemesAndPlainPaths) {
    EXPECT_TRUE(IsUrlAddress("http://example.invalid/x.xml"));
    EXPECT_TRUE(IsUrlAddress("HTTPS://example.invalid/"));
    EXPECT_TRUE(IsUrlAddress("file:///tmp/x.xml"));
    EXPECT_FALSE(IsUrlAddress("/tmp/x.xml"));
    EXPECT_FALSE(IsUrlAddress("relative/x.xml"));
    EXPECT_FALSE(IsUrlAddress("://x"));
    EXPECT_FALSE(IsUrlAddress("1http://x"));
    EXPECT_FALSE(IsUrlAddress("/tmp/odd://name"));
}

TEST(TransportMemory, HttpFileUrlAndPlainPathGiveTheSameBytes) {
    ScratchFolder root;
    const std::string content = Pattern(300000);
    const std::string path = root.Write("data.bin", content);
    TestHttpServer server(root.path());
    for (const std::string& address : {server.Url("/data.bin"), "file://" + path, path}) {
        std::string text;
        const TransferResult result = FetchToMemory(address, 1 << 20, text, FastOptions());
        EXPECT_TRUE(result.ok) << address << ": " << result.error;
        EXPECT_EQ(text, content) << address;
    }
}

TEST(TransportMemory, SizeCapRefusesOneByteMore) {
    ScratchFolder root;
    const std::size_t cap = 4 << 20;
    const std::string exact = root.Write("exact.xml", std::string(cap, 'x'));
    const std::string over = root.Write("over.xml", std::string(cap + 1, 'x'));
    TestHttpServer server(root.path());
    for (const std::string& prefix : {server.Url("/"), root.path() + "/"}) {
        std::string text;
        EXPECT_TRUE(FetchToMemory(prefix + "exact.xml", cap, text, FastOptions()).ok) << prefix;
        EXPECT_EQ(text.size(), cap);
        const TransferResult result = FetchToMemory(prefix + "over.xml", cap, text, FastOptions());
        EXPECT_FALSE(result.ok) << prefix;
        EXPECT_TRUE(text.empty());
    }
}

TEST(TransportMemory, FailuresAreReported) {
    ScratchFolder root;
    root.Write("ok.txt", "ok");
    TestHttpServer server(root.path(), {"--fault", "/gone.txt=status:410", "--fault",
                                        "/to-file=redirect:file:///etc/passwd", "--fault",
                                        "/to-http=redirect:/ok.txt"});
    std::string text;
    TransferResult result = FetchToMemory(server.Url("/missing.txt"), 1000, text, FastOptions());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "HTTP status 404");
    EXPECT_FALSE(FetchToMemory(server.Url("/gone.txt"), 1000, text, FastOptions()).ok);
    // Redirects are followed only to http and https.
    EXPECT_FALSE(FetchToMemory(server.Url("/to-file"), 100000, text, FastOptions()).ok);
    EXPECT_TRUE(text.empty());
    result = FetchToMemory(server.Url("/to-http"), 1000, text, FastOptions());
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(text, "ok");
    // Protocols other than http, https and file are refused.
    EXPECT_FALSE(FetchToMemory("ftp://127.0.0.1:1/x", 1000, text, FastOptions()).ok);
    EXPECT_FALSE(FetchToMemory("", 1000, text, FastOptions()).ok);
    EXPECT_FALSE(FetchToMemory(root / "missing.txt", 1000, text, FastOptions()).ok);
    EXPECT_FALSE(FetchToMemory(root.path(), 1000, text, FastOptions()).ok);  // a folder
}

TEST(TransportMemory, RefusedConnectionFails) {
    // Take a free port and close it again: nothing listens there.
    int port = 0;
    {
        ScratchFolder root;
        TestHttpServer server(root.path());
        port = server.port();
    }
    std::string text;
    const TransferResult result =
        FetchToMemory("http://127.0.0.1:" + std::to_string(port) + "/x", 1000, text, FastOptions());
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
}

TEST(TransportMemory, RetriesOnlyBrokenTransfersAndServerErrors) {
    ScratchFolder root;
    root.Write("cut.xml", std::string(100000, 'x'));
    root.Write("busy.xml", "x");
    TestHttpServer server(root.path(),
                          {"--fault", "/cut.xml=drop-at:5000", "--fault", "/busy.xml=status:503"});
    TransferOptions options = FastOptions();
    options.retryPausesMs = {1, 1};
    std::string text;
    EXPECT_TRUE(FetchToMemory(server.Url("/cut.xml"), 1 << 20, text, options).ok);
    EXPECT_EQ(text, std::string(100000, 'x'));
    EXPECT_FALSE(FetchToMemory(server.Url("/busy.xml"), 1000, text, options).ok);
    EXPECT_FALSE(FetchToMemory(server.Url("/missing.xml"), 1000, text, options).ok);
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"GET /cut.xml", "GET /cut.xml", "GET /busy.xml",
                                        "GET /busy.xml", "GET /busy.xml", "GET /missing.xml"}));
}

struct ProgressLog {
    std::vector<int> statuses;
    uint64_t lastSoFar = 0;
    uint64_t lastExpected = 0;
    TransferProgress Callback() {
        return [this](uint64_t soFar, uint64_t expected, int status) {
            statuses.push_back(status);
            lastSoFar = soFar;
            lastExpected = expected;
            return true;
        };
    }
};

TEST(TransportFile, CompleteDownloadReplacesTheTargetAndReportsTheEndOnce) {
    ScratchFolder root, target;
    const std::string content = Pattern(3 << 20);
    const std::string source = root.Write("p.cab", content);
    const std::string file = target.Write("p.cab", "old content");
    TestHttpServer server(root.path());
    for (const std::string& address : {server.Url("/p.cab"), source, "file://" + source}) {
        target.Write("p.cab", "old content");
        ProgressLog log;
        const TransferResult result = FetchToFile(address, file, log.Callback(), FastOptions());
        ASSERT_TRUE(result.ok) << address << ": " << result.error;
        EXPECT_EQ(ReadWholeFile(file), content);
        ASSERT_FALSE(log.statuses.empty());
        EXPECT_EQ(log.statuses.back(), TRANSFER_END_DOWNLOAD);
        EXPECT_EQ(std::count(log.statuses.begin(), log.statuses.end(), TRANSFER_END_DOWNLOAD), 1);
        EXPECT_NE(std::find(log.statuses.begin(), log.statuses.end(), TRANSFER_DOWNLOADING),
                  log.statuses.end());
        EXPECT_EQ(log.lastSoFar, content.size());
        EXPECT_EQ(log.lastExpected, content.size());
        EXPECT_EQ(CountStartingWith(target.path(), "p.cab.part"), 0);
    }
}

TEST(TransportFile, FailuresLeaveTheOldTargetAndOnlyAResumablePartialFile) {
    ScratchFolder root, target;
    const std::string content = Pattern(2 << 20);
    root.Write("cut.cab", content);
    TestHttpServer server(root.path(), {"--fault", "/cut.cab=drop"});
    const std::string file = target.Write("p.cab", "old content");
    for (const std::string& address : {server.Url("/missing.cab"), root / "missing.cab"}) {
        const TransferResult result = FetchToFile(address, file, {}, FastOptions());
        EXPECT_FALSE(result.ok) << address;
        EXPECT_EQ(ReadWholeFile(file), "old content") << address;
        EXPECT_EQ(CountStartingWith(target.path(), "p.cab.part"), 0) << address;
    }
    // A cut transfer keeps what arrived, and the address and validator beside it.
    const TransferResult result = FetchToFile(server.Url("/cut.cab"), file, {}, FastOptions());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(ReadWholeFile(file), "old content");
    EXPECT_TRUE(ReadWholeFile(PartialFilePath(file)) == content.substr(0, content.size() / 2));
    EXPECT_EQ(ReadWholeFile(PartialInfoPath(file)).rfind(server.Url("/cut.cab") + "\n\"", 0), 0u);
    EXPECT_EQ(CountStartingWith(target.path(), "p.cab.part"), 2);
    // A target in a missing folder cannot be written.
    EXPECT_FALSE(FetchToFile(server.Url("/cut.cab"), target / "no/such/x.cab", {}, {}).ok);
}

TEST(TransportFile, StalledServerEndsByTimeOut) {
    ScratchFolder root, target;
    root.Write("stall.cab", Pattern(1 << 20));
    TestHttpServer server(root.path(),
                          {"--fault", "/stall.cab=stall", "--fault", "/silent.cab=stall-headers"});
    for (const std::string name : {"stall.cab", "silent.cab"}) {
        ProgressLog log;
        const TransferResult result =
            FetchToFile(server.Url("/") + name, target / name, log.Callback(), FastOptions());
        EXPECT_FALSE(result.ok) << name;
        EXPECT_FALSE(result.aborted) << name;
        EXPECT_FALSE(std::filesystem::exists(target / name));
        // Half a body can be resumed; no body leaves nothing.
        EXPECT_EQ(CountStartingWith(target.path(), name), name == "stall.cab" ? 2 : 0);
        // Reports kept coming while nothing arrived.
        EXPECT_GT(log.statuses.size(), 5u);
    }
}

TEST(TransportFile, CancelDuringAStallEndsAtOnce) {
    ScratchFolder root, target;
    root.Write("stall.cab", Pattern(1 << 20));
    TestHttpServer server(root.path(),
                          {"--fault", "/stall.cab=stall", "--fault", "/silent.cab=stall-headers"});
    TransferOptions patient;
    patient.stallTimeoutMs = 120000;  // the time-out must not be what ends it
    for (const std::string name : {"stall.cab", "silent.cab"}) {
        std::atomic<bool> cancel{false};
        std::atomic<uint64_t> seen{0};
        std::thread canceller([&] {
            // Cancel once half of the body has arrived, or after a moment for the
            // server that never answers.
            for (int i = 0; i < 25 && seen.load() < (512u << 10); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            cancel = true;
        });
        const auto start = std::chrono::steady_clock::now();
        const TransferResult result = FetchToFile(
            server.Url("/") + name, target / name,
            [&](uint64_t soFar, uint64_t, int) {
                seen = soFar;
                return !cancel.load();
            },
            patient);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        canceller.join();
        EXPECT_FALSE(result.ok) << name;
        EXPECT_TRUE(result.aborted) << name;
        EXPECT_LT(elapsed, std::chrono::seconds(10)) << name;
        EXPECT_FALSE(std::filesystem::exists(target / name));
    }
}

TEST(TransportFile, ConnectingStatusUntilTheBodyStarts) {
    ScratchFolder root, target;
    root.Write("empty.cab", "");
    TestHttpServer server(root.path());
    ProgressLog log;
    ASSERT_TRUE(
        FetchToFile(server.Url("/empty.cab"), target / "e.cab", log.Callback(), FastOptions()).ok);
    EXPECT_TRUE(std::filesystem::exists(target / "e.cab"));
    EXPECT_EQ(std::find(log.statuses.begin(), log.statuses.end(), TRANSFER_DOWNLOADING),
              log.statuses.end());
    EXPECT_EQ(log.statuses.back(), TRANSFER_END_DOWNLOAD);
}

TEST(TransportFile, AbortAtTheEndLeavesNothing) {
    ScratchFolder root, target;
    root.Write("p.cab", "abc");
    TestHttpServer server(root.path());
    const auto refuseEnd = [](uint64_t, uint64_t, int status) {
        return status != TRANSFER_END_DOWNLOAD;
    };
    for (const std::string& address : {server.Url("/p.cab"), root / "p.cab"}) {
        const TransferResult result = FetchToFile(address, target / "p.cab", refuseEnd, {});
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.aborted);
        EXPECT_FALSE(std::filesystem::exists(target / "p.cab"));
    }
}

// What a hash computed while downloading would see.
struct Observed {
    std::string bytes;
    int restarts = 0;
    TransferOptions Options() {
        TransferOptions options = FastOptions();
        options.retryPausesMs = {1, 1, 1};
        options.dataObserver = [this](const char* data, std::size_t size) {
            bytes.append(data, size);
        };
        options.dataRestarted = [this] {
            bytes.clear();
            ++restarts;
        };
        return options;
    }
};

TEST(TransportResume, TheObserverSeesTheWholeResourceOnceThroughResumesAndRestarts) {
    ScratchFolder root, target;
    const std::string content = Pattern(1 << 20), changed = Pattern(900000).substr(7) + "new";
    for (const char* name : {"a.cab", "b.cab", "c.cab"}) root.Write(name, content);
    root.Write("c2.cab", changed);
    TestHttpServer server(root.path(), {"--fault", "/a.cab=drop-at:400000", "--fault",
                                        "/b.cab=drop-at:400000,ignore-range", "--fault",
                                        "/c.cab=drop-at:400000,change:c2.cab"});
    // Across calls: the first keeps its partial file, the second resumes it
    // and hands the bytes on disk to the observer first.
    Observed first;
    TransferOptions once = first.Options();
    once.retryPausesMs.clear();
    EXPECT_FALSE(FetchToFile(server.Url("/a.cab"), target / "a.cab", {}, once).ok);
    Observed second;
    TransferResult result = FetchToFile(server.Url("/a.cab"), target / "a.cab", {}, second.Options());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(ReadWholeFile(target / "a.cab") == content);
    EXPECT_TRUE(second.bytes == content);
    EXPECT_EQ(second.restarts, 0);
    EXPECT_EQ(server.AnswerBytes("/a.cab"), (std::vector<uint64_t>{400000, content.size() - 400000}));
    // A server that ignores the range, and a resource that changed, start over.
    for (const auto& [name, expected] : {std::pair{"b.cab", content}, {"c.cab", changed}}) {
        Observed seen;
        result = FetchToFile(server.Url("/") + name, target / name, {}, seen.Options());
        ASSERT_TRUE(result.ok) << name << ": " << result.error;
        EXPECT_TRUE(ReadWholeFile(target / name) == expected) << name;
        EXPECT_TRUE(seen.bytes == expected) << name;
        EXPECT_EQ(seen.restarts, 1) << name;
    }
    EXPECT_EQ(CountStartingWith(target.path(), "a.cab.part") +
                  CountStartingWith(target.path(), "b.cab.part") +
                  CountStartingWith(target.path(), "c.cab.part"),
              0);
}

}  // namespace
}  // namespace pelmo
