// Quantum decoding throughput against zlib's inflate on the same bytes, in one
// process. The corpus is gathered at run time: C headers from /usr/include,
// the /usr/bin/cmake program, and text from /usr/share/doc.
//
//   bench_quantum_decode [--benchmark_filter=...]
//
// Prints each benchmark's throughput and, at the end, Quantum's throughput as a
// fraction of zlib's.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/heap_services.h"
#include "cabinet/decoder.h"
#include "cabinet/writer/quantum_encoder.h"

namespace {

namespace fs = std::filesystem;

void AppendFile(const fs::path& path, std::vector<uint8_t>& out, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    size_t take = std::min(bytes.size(), limit - std::min(limit, out.size()));
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
}

// Files of a tree in name order (so every run sees the same corpus) until
// `limit` bytes are collected.
void AppendTree(const fs::path& root, bool (*wanted)(const fs::path&), std::vector<uint8_t>& out,
                size_t limit) {
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        if (it->is_regular_file(error) && !it->is_symlink(error) && wanted(it->path())) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        if (out.size() >= limit) break;
        AppendFile(file, out, limit);
    }
}

struct Corpus {
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> quantumBlocks;
    std::vector<uint8_t> deflated;
};

const Corpus& GetCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const size_t part = 3u << 20;
        AppendTree(
            "/usr/include", [](const fs::path& p) { return p.extension() == ".h"; }, c.data, part);
        size_t binaryEnd = c.data.size() + part;
        AppendFile("/usr/bin/cmake", c.data, binaryEnd);
        size_t textEnd = c.data.size() + part / 3;
        AppendTree(
            "/usr/share/doc",
            [](const fs::path& p) {
                return p.extension() != ".gz" && p.extension() != ".png" &&
                       p.extension() != ".html";
            },
            c.data, textEnd);

        cab::QuantumEncoder encoder(21);
        for (size_t offset = 0; offset < c.data.size(); offset += 32768) {
            uint32_t size = static_cast<uint32_t>(std::min<size_t>(32768, c.data.size() - offset));
            c.quantumBlocks.emplace_back();
            if (!encoder.EncodeFrame(c.data.data() + offset, size, false, c.quantumBlocks.back())) {
                std::abort();
            }
        }
        uLongf bound = compressBound(static_cast<uLong>(c.data.size()));
        c.deflated.resize(bound);
        if (compress2(c.deflated.data(), &bound, c.data.data(), static_cast<uLong>(c.data.size()),
                      6) != Z_OK) {
            std::abort();
        }
        c.deflated.resize(bound);
        size_t quantumBytes = 0;
        for (const auto& block : c.quantumBlocks) quantumBytes += block.size();
        std::printf("corpus %zu bytes; quantum (window 2^21) %zu bytes, zlib level 6 %zu bytes\n",
                    c.data.size(), quantumBytes, c.deflated.size());
        return c;
    }();
    return corpus;
}

void BM_QuantumDecode(benchmark::State& state) {
    const Corpus& corpus = GetCorpus();
    const cab::DecoderServices services = HeapServices();
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    cab::DecoderHandle handle = nullptr;
    if (cab::QuantumCreate(&maxBlock, 21, 0, &bufferSize, services, &handle) != CAB_DECODER_OK) {
        state.SkipWithError("create failed");
        return;
    }
    std::vector<uint8_t> output(32768);
    for (auto _ : state) {
        cab::QuantumReset(handle);
        size_t offset = 0;
        for (const auto& block : corpus.quantumBlocks) {
            uint32_t size =
                static_cast<uint32_t>(std::min<size_t>(32768, corpus.data.size() - offset));
            if (cab::QuantumDecompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                       output.data(), &size) != CAB_DECODER_OK) {
                state.SkipWithError("decode failed");
                break;
            }
            offset += size;
        }
        benchmark::DoNotOptimize(output.data());
    }
    cab::QuantumDestroy(handle);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.data.size()));
}
BENCHMARK(BM_QuantumDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ZlibInflate(benchmark::State& state) {
    const Corpus& corpus = GetCorpus();
    std::vector<uint8_t> output(corpus.data.size());
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(output.size());
        if (uncompress(output.data(), &size, corpus.deflated.data(),
                       static_cast<uLong>(corpus.deflated.size())) != Z_OK) {
            state.SkipWithError("inflate failed");
            break;
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.data.size()));
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps each benchmark's throughput to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) throughput[run.benchmark_name()] = it->second.value;
        }
    }
    std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    GetCorpus();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double quantum = 0;
    double zlib = 0;
    for (const auto& [name, value] : reporter.throughput) {
        if (name.rfind("BM_QuantumDecode", 0) == 0) quantum = value;
        if (name.rfind("BM_ZlibInflate", 0) == 0) zlib = value;
    }
    if (quantum > 0 && zlib > 0) {
        std::printf("quantum decode / zlib inflate throughput: %.3f (%.1f MB/s vs %.1f MB/s)\n",
                    quantum / zlib, quantum / 1e6, zlib / 1e6);
    }
    benchmark::Shutdown();
    return 0;
}
