#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "install/create_directory_path.h"
#include "install/download_progress_sink.h"
#include "install/package_download.h"
#include "install/work_folder.h"
#include "tests/support/http_server.h"
#include "tests/support/package_cabinet.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/wait_until.h"
#include "trust/sha256.h"

namespace pelmo {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::TestHttpServer;

std::string Content(int32_t id, std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + id) & 0xFF);
    return data;
}

struct Report {
    float bytesSoFar, bytesExpected, packageBytes;
    int32_t bytesBefore;
};

class RecordingDisplay : public DownloadProgressDisplay {
  public:
    void ShowDownloadProgress(float bytesSoFar, float bytesExpected, float packageBytes,
                              int32_t bytesBefore) override {
        reports.push_back({bytesSoFar, bytesExpected, packageBytes, bytesBefore});
        if (onReport) onReport(reports.back());
    }
    std::vector<Report> reports;
    std::function<void(const Report&)> onReport;
};

// A run of the download step against packages published under a scratch
// folder, served over HTTP.
class PackageDownload : public ::testing::Test {
  protected:
    void Publish(int32_t id, std::size_t size) {
        published_.Write("pkgs/" + PackageFileName(id), Content(id, size));
    }
    void StartServer(std::vector<std::string> faults = {}) {
        std::vector<std::string> args;
        for (auto& f : faults) args.insert(args.end(), {"--fault", f});
        server_ = std::make_unique<TestHttpServer>(published_.path(), args);
        base_ = server_->Url("/pkgs");
    }
    int Run(const std::vector<VersionEntry>& versions, TransferOptions options = {}) {
        DownloadRun run{versions, base_, current_, completed_};
        DownloadProgressSink sink(cancel_, current_, completed_, &display_);
        return DownloadPackages(
            run, &sink,
            [this](const std::string& folder, const std::string& cabinet) {
                unpacked_.push_back(folder + "|" + cabinet);
            },
            workFolder_, options, &reason_);
    }
    std::vector<std::string> Requests() const { return server_->Requests(); }
    std::string Work(const std::string& name) const { return workFolder_ + name; }
    // Partial files and their sidecars in the work folder.
    int PartialFiles() const {
        int count = 0;
        for (const auto& e : std::filesystem::directory_iterator(workFolder_)) {
            if (e.path().filename().string().find(".part") != std::string::npos) ++count;
        }
        return count;
    }

    ScratchFolder published_, scratch_;
    std::string workFolder_ = scratch_.path() + "/PELMO_UPGRADE/";
    std::unique_ptr<TestHttpServer> server_;
    std::string base_;
    std::atomic<int32_t> cancel_{0}, current_{-1}, completed_{-1};
    RecordingDisplay display_;
    std::vector<std::string> unpacked_;
    std::string reason_;
};

TEST_F(PackageDownload, SeveralPackagesInOrderWithScaledProgress) {
    Publish(2004, 700000);  // the declared sizes below differ from the real ones
    Publish(2005, 1500000);
    Publish(2006, 1000);
    StartServer();
    ASSERT_EQ(Run({{2004, 200000}, {2005, 300000}, {2006, 120000}}), 1) << reason_;
    EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /pkgs/2004.cab", "GET /pkgs/2005.cab",
                                                    "GET /pkgs/2006.cab"}));
    for (int32_t id : {2004, 2005, 2006}) {
        EXPECT_EQ(ReadWholeFile(Work(PackageFileName(id))),
                  ReadWholeFile(published_ / ("pkgs/" + PackageFileName(id))));
    }
    EXPECT_EQ(unpacked_, (std::vector<std::string>{workFolder_ + "|" + Work("2004.cab"),
                                                   workFolder_ + "|" + Work("2005.cab"),
                                                   workFolder_ + "|" + Work("2006.cab")}));
    EXPECT_EQ(completed_.load(), 620000);
    EXPECT_EQ(current_.load(), 120000);
    EXPECT_EQ(PartialFiles(), 0);

    // Every report carries the package's declared size and the declared sizes
    // before it; each package ends with its whole transfer.
    const std::vector<std::pair<float, int32_t>> expected = {
        {200000.f, 0}, {300000.f, 200000}, {120000.f, 500000}};
    const std::vector<float> real = {700000.f, 1500000.f, 1000.f};
    std::size_t next = 0;
    for (std::size_t i = 0; i < display_.reports.size(); ++i) {
        const Report& r = display_.reports[i];
        while (next < expected.size() && r.packageBytes != expected[next].first) ++next;
        ASSERT_LT(next, expected.size()) << "report " << i << " out of order";
        EXPECT_EQ(r.bytesBefore, expected[next].second);
        EXPECT_LE(r.bytesSoFar, real[next]);
        const bool last = i + 1 == display_.reports.size() ||
                          display_.reports[i + 1].packageBytes != r.packageBytes;
        if (last) {
            EXPECT_EQ(r.bytesSoFar, real[next]);
            EXPECT_EQ(r.bytesExpected, real[next]);
        }
    }
    EXPECT_EQ(next, expected.size() - 1);

    // The work folder is private.
    struct stat info {};
    ASSERT_EQ(::stat(workFolder_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(PackageDownload, PackagesAreUnpackedIntoTheWorkFolder) {
    const std::string first = Content(2004, 150000), second = Content(2005, 90000);
    std::string error;
    std::filesystem::create_directories(published_ / "pkgs");
    ASSERT_TRUE(testing::WritePackageCabinet(published_ / "pkgs", "2004.cab",
                                             {{"2004.pak", first}, {"notes.txt", "one"}}, &error))
        << error;
    ASSERT_TRUE(testing::WritePackageCabinet(published_ / "pkgs", "2005.cab",
                                             {{"2005.pak", second}, {"notes.txt", "two"}}, &error))
        << error;
    StartServer();
    const std::vector<VersionEntry> versions = {{2004, 1}, {2005, 1}};
    const DownloadRun run{versions, base_, current_, completed_};
    ASSERT_EQ(DownloadPackages(run, nullptr, &UnpackWithCabinetExtractor, workFolder_), 1);
    EXPECT_EQ(ReadWholeFile(Work("2004.pak")), first);
    EXPECT_EQ(ReadWholeFile(Work("2005.pak")), second);
    EXPECT_EQ(ReadWholeFile(Work("notes.txt")), "two");  // a later package overwrites
}

// Without any trust anchor a manifest's SHA256 still guards against a broken
// transfer: the package is hashed as it arrives and refused before unpacking.
TEST_F(PackageDownload, PackageHashIsCheckedBeforeUnpacking) {
    Publish(7, 300000);
    Publish(8, 1000);
    StartServer();
    trust::Sha256 hash;
    hash.Update(Content(7, 300000).data(), 300000);
    const std::string right = hash.FinishHex();
    const std::string wrong = std::string(63, '0') + "1";
    bool mismatch = false;
    std::vector<VersionEntry> versions = {{7, 1, right}, {8, 1, wrong}};
    DownloadRun run{versions, base_, current_, completed_, &mismatch};
    ASSERT_EQ(DownloadPackages(
                  run, nullptr,
                  [this](const std::string&, const std::string& cab) { unpacked_.push_back(cab); },
                  workFolder_, {}, &reason_),
              0);
    EXPECT_TRUE(mismatch);
    EXPECT_EQ(unpacked_, std::vector<std::string>{Work("7.cab")});
    EXPECT_FALSE(std::filesystem::exists(Work("8.cab")));
    EXPECT_NE(reason_.find("hash mismatch"), std::string::npos) << reason_;
    EXPECT_NE(reason_.find(wrong), std::string::npos) << reason_;
}

TEST_F(PackageDownload, BaseAddressGetsExactlyOneSlashAndOnlyWholePackagesAreReused) {
    Publish(2004, 10);
    StartServer();
    base_ = server_->Url("/pkgs/");
    ASSERT_EQ(Run({{2004, 10}}), 1) << reason_;
    // Cut short by an interrupted run: fetched again; a killed run's partial
    // download goes.
    std::filesystem::resize_file(Work("2004.cab"), 7);
    testing::WriteWholeFile(Work("2004.cab.partAbCdEf"), "partial");
    testing::WriteWholeFile(Work("2004.pak"), "stale content");
    base_ = server_->Url("/pkgs");
    ASSERT_EQ(Run({{2004, 10}}), 1) << reason_;
    // Whole (its size is the declared one): reused.
    ASSERT_EQ(Run({{2004, 10}}), 1) << reason_;
    // Whole in size but not matching the manifest's hash: fetched again.
    testing::WriteWholeFile(Work("2004.cab"), std::string(10, 'x'));
    trust::Sha256 hash;
    hash.Update(Content(2004, 10).data(), 10);
    ASSERT_EQ(Run({{2004, 10, hash.FinishHex()}}), 1) << reason_;
    EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /pkgs/2004.cab", "GET /pkgs/2004.cab",
                                                    "GET /pkgs/2004.cab"}));
    EXPECT_EQ(unpacked_.size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(Work("2004.pak"))) << "removed before each unpack";
    EXPECT_FALSE(std::filesystem::exists(Work("2004.cab.partAbCdEf")));
    EXPECT_EQ(PackageAddress("", 1), "/1.cab");
    EXPECT_EQ(PackageAddress("a//", 1), "a//1.cab");
}

TEST_F(PackageDownload, NegativeAndSmallIdsNameTheirFilesInPlainDecimal) {
    Publish(-3, 10);
    Publish(7, 20);
    StartServer();
    ASSERT_EQ(Run({{-3, 10}, {7, 20}}), 1) << reason_;
    EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /pkgs/-3.cab", "GET /pkgs/7.cab"}));
    EXPECT_EQ(ReadWholeFile(Work("-3.cab")), Content(-3, 10));
    EXPECT_EQ(ReadWholeFile(Work("7.cab")), Content(7, 20));
    EXPECT_FALSE(std::filesystem::exists(Work("0007.cab")));
}

TEST_F(PackageDownload, MissingPackageStopsTheStep) {
    Publish(2004, 100);
    Publish(2006, 100);
    StartServer();
    EXPECT_EQ(Run({{2004, 1}, {2005, 1}, {2006, 1}}), 0);
    EXPECT_NE(reason_.find("404"), std::string::npos) << reason_;
    EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /pkgs/2004.cab", "GET /pkgs/2005.cab"}));
    EXPECT_TRUE(std::filesystem::exists(Work("2004.cab")));
    EXPECT_FALSE(std::filesystem::exists(Work("2005.cab")));
    EXPECT_EQ(unpacked_.size(), 1u);
    EXPECT_EQ(completed_.load(), 1);
}

TEST_F(PackageDownload, DroppedConnectionLeavesNoPackageOnlyItsPartialFile) {
    Publish(2004, 2 << 20);
    StartServer({"/pkgs/2004.cab=drop"});
    EXPECT_EQ(Run({{2004, 1}}), 0);
    EXPECT_FALSE(std::filesystem::exists(Work("2004.cab")));
    EXPECT_EQ(PartialFiles(), 2);
    EXPECT_TRUE(unpacked_.empty());
}

TEST_F(PackageDownload, StalledServerEndsByTimeOut) {
    Publish(2004, 1 << 20);
    StartServer({"/pkgs/2004.cab=stall"});
    TransferOptions options;
    options.stallTimeoutMs = 1000;
    EXPECT_EQ(Run({{2004, 1}}, options), 0);
    EXPECT_NE(reason_.find("no data"), std::string::npos) << reason_;
    EXPECT_FALSE(std::filesystem::exists(Work("2004.cab")));
    EXPECT_EQ(PartialFiles(), 2);
}

TEST_F(PackageDownload, CancelDuringAStallEndsAtOnce) {
    Publish(2004, 1 << 20);
    StartServer({"/pkgs/2004.cab=stall"});
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel_ = 1;  // as the window thread does
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({{2004, 1}}), 0);  // default time-outs: only the cancel can end it
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(std::filesystem::exists(Work("2004.cab")));
    EXPECT_EQ(PartialFiles(), 2);
}

TEST_F(PackageDownload, CancelDuringTheSecondOfThree) {
    Publish(2004, 100000);
    Publish(2005, 3 << 20);
    Publish(2006, 100000);
    StartServer({"/pkgs/2005.cab=slow:2000000"});
    display_.onReport = [this](const Report& r) {
        if (r.packageBytes == 2.f && r.bytesSoFar > 0) cancel_ = 1;
    };
    EXPECT_EQ(Run({{2004, 1}, {2005, 2}, {2006, 3}}), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /pkgs/2004.cab", "GET /pkgs/2005.cab"}));
    EXPECT_EQ(ReadWholeFile(Work("2004.cab")), Content(2004, 100000));
    EXPECT_FALSE(std::filesystem::exists(Work("2005.cab")));
    EXPECT_TRUE(std::filesystem::exists(Work("2005.cab.part")));
    EXPECT_EQ(unpacked_.size(), 1u);
}

std::string HashOf(const std::string& data) {
    trust::Sha256 hash;
    hash.Update(data.data(), data.size());
    return hash.FinishHex();
}

// Options with short pauses: the program's own wait 1, 2, 4, 8 and 16 s.
TransferOptions QuickRetries() {
    TransferOptions options;
    options.stallTimeoutMs = 2000;
    options.retryPausesMs = {5, 5, 5, 5, 5};
    return options;
}

TEST_F(PackageDownload, CutTransfersResumeAndTheCountersNeverGoBack) {
    const std::size_t size = 20 << 20;
    Publish(2004, size);
    Publish(2005, size);
    Publish(2006, size);
    StartServer({"/pkgs/2004.cab=drop-at:" + std::to_string(size / 10),
                 "/pkgs/2005.cab=drop-at:" + std::to_string(size / 2),
                 "/pkgs/2006.cab=drop-at:" + std::to_string(size / 10 * 9)});
    // With the packages' hashes: each must cover the whole package once.
    ASSERT_EQ(Run({{2004, 1, HashOf(Content(2004, size))},
                   {2005, 2, HashOf(Content(2005, size))},
                   {2006, 3, HashOf(Content(2006, size))}},
                  QuickRetries()),
              1)
        << reason_;
    for (int32_t id : {2004, 2005, 2006}) {
        const std::string path = "/pkgs/" + PackageFileName(id);
        EXPECT_TRUE(ReadWholeFile(Work(PackageFileName(id))) == Content(id, size)) << id;
        EXPECT_EQ(server_->AnswerBytes(path).size(), 2u) << id;
        EXPECT_LE(server_->BytesSent(path), size * 12 / 10) << id;
    }
    EXPECT_EQ(PartialFiles(), 0);
    // Each package's figure goes from 0 to its size without a step back.
    float last = 0;
    for (std::size_t i = 1; i < display_.reports.size(); ++i) {
        const Report& r = display_.reports[i];
        if (r.packageBytes != display_.reports[i - 1].packageBytes) last = 0;
        EXPECT_GE(r.bytesSoFar, last) << "report " << i;
        last = r.bytesSoFar;
    }
    EXPECT_EQ(display_.reports.back().bytesSoFar, static_cast<float>(size));
}

TEST_F(PackageDownload, ARestartFromZeroKeepsOnlyTheBytesOfTheLastAnswer) {
    // A server that ignores ranges, and a package replaced between attempts.
    const std::size_t size = 4 << 20;
    Publish(2004, size);
    Publish(2005, size);
    published_.Write("pkgs/2005-new.cab", Content(77, size - 1000));
    StartServer({"/pkgs/2004.cab=drop-at:4000000,ignore-range",
                 "/pkgs/2005.cab=drop-at:4000000,change:pkgs/2005-new.cab"});
    ASSERT_EQ(Run({{2004, 1, HashOf(Content(2004, size))},
                   {2005, 2, HashOf(Content(77, size - 1000))}},
                  QuickRetries()),
              1)
        << reason_;
    EXPECT_TRUE(ReadWholeFile(Work("2004.cab")) == Content(2004, size));
    EXPECT_TRUE(ReadWholeFile(Work("2005.cab")) == Content(77, size - 1000));
    EXPECT_EQ(server_->AnswerBytes("/pkgs/2004.cab"), (std::vector<uint64_t>{4000000, size}));
    // The figure starts again visibly, once per package.
    int restarts = 0;
    for (std::size_t i = 1; i < display_.reports.size(); ++i) {
        const Report &before = display_.reports[i - 1], &now = display_.reports[i];
        if (now.packageBytes == before.packageBytes && now.bytesSoFar < before.bytesSoFar)
            ++restarts;
    }
    EXPECT_EQ(restarts, 2);
}

TEST_F(PackageDownload, RetriesSpentFailTheStepAndACancelInAPauseActsAtOnce) {
    Publish(2004, 1 << 20);
    StartServer({"/pkgs/2004.cab=drop-every:100000"});
    EXPECT_EQ(Run({{2004, 1}}, QuickRetries()), 0);
    EXPECT_EQ(Requests().size(), 6u);  // the first attempt and five retries
    EXPECT_EQ(std::filesystem::file_size(Work("2004.cab.part")), 600000u);
    EXPECT_TRUE(unpacked_.empty());

    TransferOptions patient = QuickRetries();
    patient.retryPausesMs = {60000};
    std::thread canceller([this] {
        testing::WaitUntil([this] { return Requests().size() == 7; }, std::chrono::seconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // in the pause
        cancel_ = 1;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({{2004, 1}}, patient), 0);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Requests().size(), 7u);
    EXPECT_TRUE(ReadWholeFile(Work("2004.cab.part")) == Content(2004, 1 << 20).substr(0, 700000));
}

TEST_F(PackageDownload, StaleAndForeignPartialFilesAreNotResumed) {
    Publish(2005, 300000);
    StartServer();
    ASSERT_TRUE(std::filesystem::create_directories(workFolder_));
    // Too old, an old-style leftover, and one from another address.
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 31);
    for (const char* name : {"2004.cab.part", "2004.cab.part.info", "2006.cab.partXy12Ab"})
        scratch_.Write("PELMO_UPGRADE/" + std::string(name), "x");
    std::filesystem::last_write_time(Work("2004.cab.part"), old);
    std::filesystem::last_write_time(Work("2004.cab.part.info"), old);
    scratch_.Write("PELMO_UPGRADE/2005.cab.part", "garbage");
    scratch_.Write("PELMO_UPGRADE/2005.cab.part.info", "http://elsewhere.invalid/2005.cab\n\"v\"\n");
    ASSERT_EQ(Run({{2005, 1}}, QuickRetries()), 1) << reason_;
    EXPECT_TRUE(ReadWholeFile(Work("2005.cab")) == Content(2005, 300000));
    EXPECT_EQ(PartialFiles(), 0);
}

TEST_F(PackageDownload, PackagesFromALocalFolder) {
    Publish(2004, 5000);
    base_ = published_ / "pkgs";
    ASSERT_EQ(Run({{2004, 5000}}), 1) << reason_;
    EXPECT_EQ(ReadWholeFile(Work("2004.cab")), Content(2004, 5000));
    EXPECT_FALSE(display_.reports.empty());
}

TEST_F(PackageDownload, EmptyListStillCreatesTheWorkFolder) {
    StartServer();
    EXPECT_EQ(Run({}), 1);
    EXPECT_TRUE(std::filesystem::is_directory(workFolder_));
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(completed_.load(), 0);
    EXPECT_EQ(current_.load(), 0);
}

TEST_F(PackageDownload, UnsafeWorkFolderIsRefused) {
    Publish(2004, 10);
    StartServer();
    const std::string folder = scratch_ / "PELMO_UPGRADE";
    // A link to a folder of someone's choosing.
    std::filesystem::create_directory(scratch_ / "elsewhere");
    std::filesystem::create_directory_symlink(scratch_ / "elsewhere", folder);
    EXPECT_EQ(Run({{2004, 10}}), 0);
    EXPECT_NE(reason_.find("link"), std::string::npos) << reason_;
    EXPECT_TRUE(std::filesystem::is_empty(scratch_ / "elsewhere"));
    std::filesystem::remove(folder);
    // A folder others may write into.
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    EXPECT_EQ(Run({{2004, 10}}), 0);
    EXPECT_NE(reason_.find("writable"), std::string::npos) << reason_;
    // A file in its place.
    std::filesystem::remove(folder);
    scratch_.Write("PELMO_UPGRADE", "x");
    EXPECT_EQ(Run({{2004, 10}}), 0);
    std::filesystem::remove(folder);
    // Another user's folder (only root can make one).
    if (::geteuid() == 0) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(Run({{2004, 10}}), 0);
        EXPECT_NE(reason_.find("another user"), std::string::npos) << reason_;
    }
    EXPECT_TRUE(Requests().empty());
}

TEST(WorkFolder, PathIsTheUsersOwn) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string saved = tmp != nullptr ? tmp : "";
    ::setenv("TMPDIR", "/t/x", 1);
    EXPECT_EQ(WorkFolderPath(), "/t/x/PELMO_UPGRADE/");
    ::unsetenv("TMPDIR");
    ::setenv("XDG_CACHE_HOME", "/c", 1);
    EXPECT_EQ(WorkFolderPath(), "/c/pelmo/PELMO_UPGRADE/");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(WorkFolderPath(), std::string(std::getenv("HOME")) + "/.cache/pelmo/PELMO_UPGRADE/");
    if (tmp != nullptr) ::setenv("TMPDIR", saved.c_str(), 1);
}

TEST(CreateDirectoryPath, CreatesParentsAndReportsTheLastCreation) {
    ScratchFolder scratch;
    EXPECT_EQ(CreateDirectoryPath(scratch / "a/b/c"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(scratch / "a/b/c"));
    EXPECT_EQ(CreateDirectoryPath(scratch / "a/b/c"), 0);  // existed already
    // With a trailing "/" the folder is made as a parent first, so the last
    // creation finds it there.
    EXPECT_EQ(CreateDirectoryPath(scratch / "x/y/"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(scratch / "x/y"));
    EXPECT_EQ(CreateDirectoryPath(scratch / "private", 0700), 1);
    EXPECT_EQ(
        std::filesystem::status(scratch / "private").permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_all);
    EXPECT_EQ(CreateDirectoryPath(""), 0);
    scratch.Write("file", "x");
    EXPECT_EQ(CreateDirectoryPath(scratch / "file/sub"), 0);
}

TEST(DownloadProgressSink, AnswersAndReports) {
    std::atomic<int32_t> cancel{0}, current{120000}, completed{300000};
    RecordingDisplay display;
    DownloadProgressSink sink(cancel, current, completed, &display);
    EXPECT_EQ(sink.OnProgress(10, 20, 2), PROGRESS_CONTINUE);  // connecting: nothing shown
    EXPECT_EQ(sink.OnProgress(10, 20, 4), PROGRESS_CONTINUE);
    EXPECT_TRUE(display.reports.empty());
    EXPECT_EQ(sink.OnProgress(10, 20, BINDSTATUS_DOWNLOADINGDATA), PROGRESS_CONTINUE);
    EXPECT_EQ(sink.OnProgress(0xFFFFFFFFu, 20, BINDSTATUS_ENDDOWNLOADDATA), PROGRESS_CONTINUE);
    ASSERT_EQ(display.reports.size(), 2u);
    EXPECT_EQ(display.reports[0].bytesSoFar, 10.f);
    EXPECT_EQ(display.reports[0].bytesExpected, 20.f);
    EXPECT_EQ(display.reports[0].packageBytes, 120000.f);
    EXPECT_EQ(display.reports[0].bytesBefore, 300000);
    EXPECT_EQ(display.reports[1].bytesSoFar, 4294967295.f);  // unsigned, not -1

    // A pending cancel aborts every report, and nothing is shown.
    cancel = 1;
    for (uint32_t status : {2u, 5u, 6u}) EXPECT_EQ(sink.OnProgress(1, 2, status), PROGRESS_ABORT);
    EXPECT_EQ(display.reports.size(), 2u);
    EXPECT_EQ(PROGRESS_ABORT, static_cast<int32_t>(0x80004004));

    // Without a display the transfer goes on silently.
    cancel = 0;
    DownloadProgressSink headless(cancel, current, completed, nullptr);
    EXPECT_EQ(headless.OnProgress(1, 2, 5), PROGRESS_CONTINUE);
    EXPECT_FALSE(headless.AsTransferProgress()(1, 2, 5) == false);
    cancel = 1;
    EXPECT_FALSE(headless.AsTransferProgress()(1, 2, 2));
}

}  // namespace
}  // namespace pelmo
