// Helpers for tests of compound files: scratch folders, sample trees, and
// compound files made by independent writers (the gsf tool and the npm
// package cfb, which is installed into the build folder on first use).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/file_contents.h"
#include "tests/support/scratch_folder.h"

extern char** environ;

namespace pelmo::test {

namespace fs = std::filesystem;

// The shared scratch folder, seen as a path.
class TempFolder {
  public:
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return folder_ / name; }

  private:
    testing::ScratchFolder folder_;
    fs::path path_ = folder_.path();
};

inline void WriteFile(const fs::path& path, const std::string& content) {
    testing::WriteWholeFile(path, content);
}

inline std::string ReadFile(const fs::path& path) { return testing::ReadWholeFile(path); }

// Deterministic bytes that differ from sector to sector.
inline std::string PatternBytes(std::size_t count, std::uint32_t seed) {
    std::string out(count, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

struct SampleOptions {
    bool manySiblings = false;  // 300 streams in one storage
    bool bigStream = false;     // a stream large enough to need DIFAT sectors
};

// A folder tree covering the cases a compound file must carry: nested
// storages, an empty stream, streams around the mini stream cut-off, Chinese
// and mixed-case names.
inline void MakeSampleTree(const fs::path& root, SampleOptions options = {}) {
    WriteFile(root / "readme.txt", "Pelmo\n");
    WriteFile(root / "empty.dat", "");
    WriteFile(root / "mini4095.bin", PatternBytes(4095, 1));
    WriteFile(root / "cut4096.bin", PatternBytes(4096, 2));
    WriteFile(root / "big4097.bin", PatternBytes(4097, 3));
    WriteFile(root / "MixedCase.DLL", PatternBytes(70000, 4));
    WriteFile(root / "bin" / "core.dll", PatternBytes(12345, 5));
    WriteFile(root / "bin" / "Plugins" / "zh" / "帮助文档.txt", "中文内容\n");
    WriteFile(root / "数据" / "配置.ini", "[a]\nb=1\n");
    WriteFile(root / "bin" / "Plugins" / "tiny", "x");
    if (options.manySiblings) {
        for (int i = 0; i < 300; ++i)
            WriteFile(root / "many" / ("item" + std::to_string(i) + ".txt"),
                      PatternBytes(static_cast<std::size_t>(i * 37 % 5000), 100 + i));
    }
    if (options.bigStream) WriteFile(root / "huge.bin", PatternBytes(8u << 20, 7));
}

// Relative path -> content of every file under `root` ("<folder>" for folders).
inline std::map<std::string, std::string> SnapshotFolder(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(entry.path(), root).string();
        out[rel] = entry.is_directory() ? std::string("<folder>") : ReadFile(entry.path());
    }
    return out;
}

// Runs a program and waits for it; its exit status, or -1.
inline int Run(const std::vector<std::string>& argv, const std::string& cwd = "") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // The producers' chatter stays out of the test log.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes `out` from the folder `source` with the gsf tool.
inline bool MakeWithGsf(const fs::path& source, const std::string& out) {
    std::vector<std::string> argv = {"gsf", "createole", out};
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(source))
        names.push_back(entry.path().filename().string());
    argv.insert(argv.end(), names.begin(), names.end());
    return Run(argv, source.string()) == 0;
}

// The node_modules folder holding cfb; installed once per build folder.
inline std::string CfbModules() {
    const fs::path prefix = fs::path(PELMO_BINARY_DIR) / "npm-cfb";
    const fs::path modules = prefix / "node_modules";
    if (fs::exists(modules / "cfb" / "package.json")) return modules.string();
    fs::create_directories(prefix);
    const int lock = ::open((prefix / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ::flock(lock, LOCK_EX);
    if (!fs::exists(modules / "cfb" / "package.json"))
        Run({"npm", "install", "--no-audit", "--no-fund", "--silent", "--prefix", prefix.string(),
             "cfb@1.2.2"});
    ::close(lock);
    return fs::exists(modules / "cfb" / "package.json") ? modules.string() : std::string();
}

// Makes `out` from the folder `source` with cfb. cfb adds a marker stream of
// its own, named "\x01Sh33tJ5", to the root.
inline bool MakeWithCfb(const fs::path& source, const std::string& out) {
    const std::string modules = CfbModules();
    if (modules.empty()) return false;
    const char* script = R"(
const CFB = require(process.argv[1] + '/cfb'); const fs = require('fs'); const path = require('path');
const src = process.argv[2], out = process.argv[3];
const cfb = CFB.utils.cfb_new();
function walk(dir, rel) {
  for (const name of fs.readdirSync(dir).sort()) {
    const p = path.join(dir, name), r = rel + '/' + name;
    if (fs.statSync(p).isDirectory()) walk(p, r); else CFB.utils.cfb_add(cfb, r, fs.readFileSync(p));
  }
}
walk(src, '');
fs.writeFileSync(out, CFB.write(cfb, {type: 'buffer'}));
)";
    return Run({"node", "-e", script, modules, source.string(), out}) == 0;
}

// Lists a compound file with cfb's reader: one "path size" line per stream.
inline bool ListWithCfb(const std::string& file, const std::string& listing) {
    const std::string modules = CfbModules();
    if (modules.empty()) return false;
    const char* script = R"(
const CFB = require(process.argv[1] + '/cfb'); const fs = require('fs');
const c = CFB.read(process.argv[2], {type: 'file'});
const lines = [];
c.FileIndex.forEach((f, i) => { if (f.type == 2) lines.push(c.FullPaths[i] + ' ' + f.size + ' ' +
  require('crypto').createHash('sha1').update(f.content || Buffer.alloc(0)).digest('hex')); });
fs.writeFileSync(process.argv[3], lines.sort().join('\n') + '\n');
)";
    return Run({"node", "-e", script, modules, file, listing}) == 0;
}

}  // namespace pelmo::test
