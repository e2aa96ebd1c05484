// Benchmark corpora gathered from files of this machine (headers, programs,
// documentation), read in name order so that every run sees the same bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

namespace bench_corpus {

namespace fs = std::filesystem;

// The first `limit` bytes of path (all of a shorter file; none of a missing one).
inline std::vector<uint8_t> ReadPrefix(const fs::path& path, size_t limit) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    std::vector<uint8_t> data(error ? 0 : static_cast<size_t>(std::min<uintmax_t>(size, limit)));
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(file.gcount()));
    return data;
}

// Appends at most `budget` bytes from the start of path to out.
inline void AppendFile(const fs::path& path, size_t budget, std::vector<uint8_t>& out) {
    const std::vector<uint8_t> data = ReadPrefix(path, budget);
    out.insert(out.end(), data.begin(), data.end());
}

// Appends the regular files under root (links left out) that accept takes,
// in name order, until `budget` bytes are appended. accept sees the path and
// the bytes that would be appended.
template <typename Accept>
void AppendTree(const fs::path& root, size_t budget, Accept accept, std::vector<uint8_t>& out) {
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    const size_t start = out.size();
    for (const fs::path& file : files) {
        const size_t appended = out.size() - start;
        if (appended >= budget) break;
        const std::vector<uint8_t> data = ReadPrefix(file, budget - appended);
        if (accept(file, data)) out.insert(out.end(), data.begin(), data.end());
    }
}

// The mix of the LZX and Quantum benchmarks: C headers from /usr/include, the
// start of the /usr/bin/cmake program, then documentation from /usr/share/doc
// but for the files whose extension is in skippedDocs; each part up to its
// budget.
inline void AppendHeadersProgramAndDocs(size_t headerBytes, size_t programBytes,
                                        size_t docBytes,
                                        std::initializer_list<const char*> skippedDocs,
                                        std::vector<uint8_t>& out) {
    AppendTree(
        "/usr/include", headerBytes,
        [](const fs::path& p, const auto&) { return p.extension() == ".h"; }, out);
    AppendFile("/usr/bin/cmake", programBytes, out);
    AppendTree(
        "/usr/share/doc", docBytes,
        [&skippedDocs](const fs::path& p, const auto&) {
            return std::none_of(skippedDocs.begin(), skippedDocs.end(),
                                [&p](const char* ext) { return p.extension() == ext; });
        },
        out);
}

// The mix of the decoder comparison and the LZX encoder benchmark: C headers,
// documentation, shared libraries and programs, `size` bytes in all (fewer on
// a machine with less).
inline std::vector<uint8_t> MixedCorpus(size_t size) {
    std::vector<uint8_t> data;
    AppendTree(
        "/usr/include", size / 4,
        [](const fs::path& p, const auto&) { return p.extension() == ".h"; },
        data);
    AppendTree(
        "/usr/share/doc", size / 8,
        [](const fs::path& p, const auto&) {
            auto ext = p.extension();
            return ext != ".gz" && ext != ".png" && ext != ".jpg" && ext != ".pdf";
        },
        data);
    AppendTree(
        "/usr/lib/x86_64-linux-gnu", size / 4,
        [](const fs::path& p, const auto&) {
            return p.string().find(".so") != std::string::npos;
        },
        data);
    AppendTree(
        "/usr/bin", size - data.size(),
        [](const fs::path&, const auto&) { return true; }, data);
    return data;
}

}  // namespace bench_corpus
