// pelmo-tool cab extract against cabinets from a second producer, written
// apart from our cabinet writer (tests/support/make_stored_cabinets.py): the
// well-formed ones must give exactly the expected files and nothing else,
// the broken ones must fail and leave nothing outside the output folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pelmo::testing::ReadWholeFile;
using pelmo::testing::ScratchFolder;

struct CorpusCase {
    std::string name;
    std::string cabinet;  // relative to the corpus folder
    bool ok = false;
    std::vector<std::string> executable;
    std::vector<std::string> readOnly;
    std::vector<std::string> outside;  // absolute paths that must not appear
};

struct ProgramRun {
    int status = -1;
    std::string err;
};

// Runs a program with its output sent to files in `logs`.
ProgramRun Spawn(const std::vector<std::string>& args, const std::string& logs) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string out = logs + "/stdout";
    const std::string err = logs + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ProgramRun run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int raw = 0;
        if (waitpid(pid, &raw, 0) == pid && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.err = ReadWholeFile(err);
    return run;
}

// Every path below `root`, relative to it; folders end in "/". The folder
// `skip` (relative, ending in "/") is listed but not entered.
std::set<std::string> Tree(const fs::path& root, const std::string& skip = "") {
    std::set<std::string> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        std::string relative = fs::relative(it->path(), root).string();
        if (it->is_directory() && !it->is_symlink()) relative += "/";
        if (relative == skip) it.disable_recursion_pending();
        paths.insert(relative);
    }
    return paths;
}

class StoredCorpus : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<ScratchFolder>();
        corpus_ = fs::path(folder_->path()) / "corpus";
        const std::string python =
            ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        produced_ = Spawn(
            {python, PELMO_SOURCE_DIR "/tests/support/make_stored_cabinets.py", corpus_.string()},
            folder_->path());
        std::ifstream in(corpus_ / "corpus.txt");
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields;
            std::stringstream split(line);
            for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
            if (fields.size() == 4 && fields[0] == "case") {
                cases_.push_back({fields[1], fields[2], fields[3] == "ok", {}, {}, {}});
            } else if (fields.size() == 3 && !cases_.empty() && cases_.back().name == fields[1]) {
                CorpusCase& last = cases_.back();
                if (fields[0] == "exec") last.executable.push_back(fields[2]);
                if (fields[0] == "readonly") last.readOnly.push_back(fields[2]);
                if (fields[0] == "outside") last.outside.push_back(fields[2]);
            }
        }
    }
    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        ASSERT_EQ(produced_.status, 0) << produced_.err;
        ASSERT_GE(cases_.size(), 20u);
    }

    // Extracts a case's cabinet into its own output folder.
    ProgramRun Extract(const CorpusCase& c, fs::path* out) {
        *out = fs::path(folder_->path()) / "out" / c.name / "files";
        return Spawn({PELMO_BINARY_DIR "/tools/pelmo-tool", "cab", "extract", "-d", out->string(),
                      (corpus_ / c.cabinet).string()},
                     folder_->path());
    }

    static std::unique_ptr<ScratchFolder> folder_;
    static fs::path corpus_;
    static ProgramRun produced_;
    static std::vector<CorpusCase> cases_;
};

std::unique_ptr<ScratchFolder> StoredCorpus::folder_;
fs::path StoredCorpus::corpus_;
ProgramRun StoredCorpus::produced_;
std::vector<CorpusCase> StoredCorpus::cases_;

// Interleaved folders, irregular and split blocks, reserves, zero-size,
// overlapping and overwritten files, subfolders, a UTF-8 name, many small
// files in shuffled order, and three-cabinet sets walked from their first
// cabinet (and from the second: only the files that begin there or later).
TEST_F(StoredCorpus, WellFormedCabinetsGiveExactlyTheExpectedFiles) {
    int checked = 0;
    for (const CorpusCase& c : cases_) {
        if (!c.ok) continue;
        SCOPED_TRACE(c.name);
        checked += 1;
        fs::path out;
        const ProgramRun run = Extract(c, &out);
        EXPECT_EQ(run.status, 0) << run.err;
        const fs::path expected = corpus_ / "expected" / c.name;
        const std::set<std::string> want = Tree(expected);
        EXPECT_EQ(Tree(out), want);
        for (const std::string& path : want) {
            if (path.back() == '/') continue;
            const fs::path file = out / path;
            EXPECT_TRUE(ReadWholeFile((expected / path).string()) == ReadWholeFile(file.string()))
                << path << ": " << fs::file_size(expected / path) << " bytes expected, "
                << (fs::exists(file) ? fs::file_size(file) : 0) << " extracted";
            struct stat st {};
            ASSERT_EQ(::stat(file.c_str(), &st), 0) << path;
            const bool executable = std::count(c.executable.begin(), c.executable.end(), path) != 0;
            const bool readOnly = std::count(c.readOnly.begin(), c.readOnly.end(), path) != 0;
            EXPECT_EQ((st.st_mode & S_IXUSR) != 0, executable) << path;
            EXPECT_EQ((st.st_mode & S_IWUSR) == 0, readOnly) << path;
        }
        fs::remove_all(out.parent_path());  // keeps later walks of the scratch folder short
        // The same walk without writing anything.
        const ProgramRun test = Spawn(
            {PELMO_BINARY_DIR "/tools/pelmo-tool", "cab", "test", (corpus_ / c.cabinet).string()},
            folder_->path());
        EXPECT_EQ(test.status, 0) << test.err;
    }
    EXPECT_GE(checked, 7);
}

// Truncated data, wrong checksums, tables and files past the end, bad block
// sizes, a wrong set member, a wrong signature or version, names that clash
// with folders, and names that would leave the output folder.
TEST_F(StoredCorpus, BrokenCabinetsFailAndWriteNothingOutsideTheOutputFolder) {
    int checked = 0;
    for (const CorpusCase& c : cases_) {
        if (c.ok) continue;
        SCOPED_TRACE(c.name);
        checked += 1;
        std::map<std::string, bool> existedBefore;
        for (const std::string& path : c.outside) existedBefore[path] = fs::exists(path);
        // The expected trees are many files and no case writes there.
        const std::string skip = "corpus/expected/";
        const std::set<std::string> before = Tree(folder_->path(), skip);
        fs::path out;
        const ProgramRun run = Extract(c, &out);
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(run.status, 1) << "a failure, not a crash: " << run.err;
        EXPECT_EQ(run.err.rfind("pelmo-tool cab: ", 0), 0u) << "a reason: " << run.err;
        const std::string outPrefix = fs::relative(out, folder_->path()).string() + "/";
        for (const std::string& path : Tree(folder_->path(), skip)) {
            if (before.count(path) != 0 || path == "stdout" || path == "stderr") continue;
            if (path.compare(0, outPrefix.size(), outPrefix) == 0) continue;
            // The folders leading to the output folder are the tool's own.
            if (outPrefix.compare(0, path.size(), path) == 0 && path.back() == '/') continue;
            ADD_FAILURE() << "written outside the output folder: " << path;
        }
        for (const std::string& path : c.outside) {
            if (existedBefore[path]) continue;
            EXPECT_FALSE(fs::exists(path)) << path;
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
    EXPECT_GE(checked, 15);
}

// A walk that crosses into the next cabinet to finish a file goes on there:
// a file listed after that one in the first cabinet's table is never
// offered. The extraction still writes every file it can reach, then fails
// and says why, instead of reporting success without the file.
TEST_F(StoredCorpus, AFileListedAfterAContinuedFileIsReportedNotSilentlyLost) {
    const auto it = std::find_if(cases_.begin(), cases_.end(), [](const CorpusCase& c) {
        return c.name == "set_entry_after_crossing";
    });
    ASSERT_NE(it, cases_.end());
    fs::path out;
    const ProgramRun run = Extract(*it, &out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("after1.cab: 1 file listed after a file that continues into the next "
                           "cabinet cannot be reached"),
              std::string::npos)
        << run.err;
    const fs::path expected = corpus_ / "expected" / it->name;
    EXPECT_EQ(Tree(out), Tree(expected));
    EXPECT_TRUE(ReadWholeFile(out / "big") == ReadWholeFile(expected / "big"));
}

}  // namespace
