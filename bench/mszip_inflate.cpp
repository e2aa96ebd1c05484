// MSZIP decoding throughput against zlib's inflate on the same blocks.
//
// The corpus is built at start-up from files on this machine: C headers under
// /usr/include, a large executable, text under /usr/share/doc, and random
// bytes. Each kind is cut into 32768-byte frames and made into MSZIP blocks by
// the cabinet writer's encoder (zlib, level 6, the previous frame as its
// dictionary). Both
// decoders then decode every block of a kind in order: ours through the
// decoder interface into one 32 KB buffer (its history), zlib's inflate with
// the previous block's output set as dictionary. After the run the ratios
// (ours / zlib) are printed per kind and for the whole corpus.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/heap_services.h"
#include "bench/machine_corpus.h"
#include "cabinet/decoder.h"
#include "cabinet/writer/folder_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr size_t kFrame = cab::MAX_BLOCK_SIZE;

struct Corpus {
    std::vector<Bytes> blocks;
    std::vector<uint32_t> sizes;  // uncompressed size of each block
    size_t bytes = 0;
    size_t compressed = 0;
};

// Regular files under `root` that accept takes, in path order, until `limit` bytes.
Bytes CollectFiles(const fs::path& root, size_t limit,
                   bool (*accept)(const fs::path&, const Bytes&)) {
    Bytes out;
    bench_corpus::AppendTree(root, limit, accept, out);
    return out;
}

bool IsHeader(const fs::path& path, const Bytes&) {
    return path.extension() == ".h" || path.extension() == ".hpp";
}

bool IsText(const fs::path& path, const Bytes& data) {
    if (path.extension() == ".gz" || data.empty()) return false;
    return std::find(data.begin(), data.begin() + std::min<size_t>(data.size(), 4096), 0) ==
           data.begin() + std::min<size_t>(data.size(), 4096);
}

Bytes Executable(size_t limit) {
    for (const char* candidate :
         {"/usr/bin/cmake", "/usr/bin/clang-14", "/usr/lib/llvm-14/bin/clang"}) {
        Bytes data = bench_corpus::ReadPrefix(candidate, limit);
        if (data.size() > 1000000) return data;
    }
    return {};
}

Bytes Random(size_t size) {
    Bytes out(size);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (auto& byte : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = uint8_t(state);
    }
    return out;
}

Corpus MakeCorpus(const Bytes& data) {
    Corpus corpus;
    const std::unique_ptr<cab::FolderEncoder> encoder = cab::MakeMszipEncoder(6);
    for (size_t offset = 0; offset < data.size(); offset += kFrame) {
        const size_t size = std::min(kFrame, data.size() - offset);
        Bytes block;
        if (!encoder || !encoder->EncodeFrame(data.data() + offset, uint32_t(size),
                                              offset + size == data.size(), block)) {
            std::fprintf(stderr, "cannot make the MSZIP corpus\n");
            std::exit(1);
        }
        corpus.compressed += block.size();
        corpus.blocks.push_back(std::move(block));
        corpus.sizes.push_back(uint32_t(size));
    }
    corpus.bytes = data.size();
    return corpus;
}

const std::map<std::string, Corpus>& Corpora() {
    static const std::map<std::string, Corpus> corpora = [] {
        std::map<std::string, Corpus> result;
        const Bytes headers = CollectFiles("/usr/include", 6 << 20, IsHeader);
        const Bytes executable = Executable(6 << 20);
        const Bytes text = CollectFiles("/usr/share/doc", 4 << 20, IsText);
        const Bytes random = Random(1 << 20);
        result["headers"] = MakeCorpus(headers);
        result["executable"] = MakeCorpus(executable);
        result["text"] = MakeCorpus(text);
        result["random"] = MakeCorpus(random);
        Corpus all;
        for (auto& [name, corpus] : result) {
            all.blocks.insert(all.blocks.end(), corpus.blocks.begin(), corpus.blocks.end());
            all.sizes.insert(all.sizes.end(), corpus.sizes.begin(), corpus.sizes.end());
            all.bytes += corpus.bytes;
            all.compressed += corpus.compressed;
        }
        result["all"] = std::move(all);
        return result;
    }();
    return corpora;
}

void BM_Pelmo(benchmark::State& state, const std::string& kind) {
    const Corpus& corpus = Corpora().at(kind);
    uint32_t bufferSize = 0;
    const cab::DecoderHandle decoder = CreateOnHeap(state, &bufferSize, cab::MszipCreate);
    if (decoder == nullptr) return;
    Bytes output(kFrame);
    for (auto _ : state) {
        cab::MszipReset(decoder);
        for (size_t i = 0; i < corpus.blocks.size(); ++i) {
            uint32_t size = kFrame;
            const Bytes& block = corpus.blocks[i];
            if (cab::MszipDecompress(decoder, block.data(), uint32_t(block.size()), output.data(),
                                     &size) != CAB_DECODER_OK ||
                size != corpus.sizes[i]) {
                state.SkipWithError("decode failed");
                break;
            }
        }
        benchmark::DoNotOptimize(output.data());
    }
    cab::MszipDestroy(decoder);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.bytes));
}

void BM_Zlib(benchmark::State& state, const std::string& kind) {
    const Corpus& corpus = Corpora().at(kind);
    z_stream stream{};
    inflateInit2(&stream, -15);
    Bytes output[2] = {Bytes(kFrame), Bytes(kFrame)};
    for (auto _ : state) {
        for (size_t i = 0; i < corpus.blocks.size(); ++i) {
            const Bytes& block = corpus.blocks[i];
            Bytes& out = output[i & 1];
            inflateReset(&stream);
            if (i > 0 && corpus.sizes[i - 1] == kFrame)
                inflateSetDictionary(&stream, output[(i - 1) & 1].data(), uInt(kFrame));
            stream.next_in = const_cast<uint8_t*>(block.data() + 2);
            stream.avail_in = uInt(block.size() - 2);
            stream.next_out = out.data();
            stream.avail_out = uInt(kFrame);
            const int result = inflate(&stream, Z_FINISH);
            if (result != Z_STREAM_END || kFrame - stream.avail_out != corpus.sizes[i]) {
                state.SkipWithError("inflate failed");
                break;
            }
        }
        benchmark::DoNotOptimize(output[0].data());
    }
    inflateEnd(&stream);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.bytes));
}

// Remembers each run's throughput to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.counters.count("bytes_per_second"))
                throughput[run.benchmark_name()] = run.counters.at("bytes_per_second");
    }
    std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
    const char* kinds[] = {"headers", "executable", "text", "random", "all"};
    for (const char* kind : kinds) {
        benchmark::RegisterBenchmark((std::string("Pelmo/") + kind).c_str(), BM_Pelmo,
                                     std::string(kind))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Zlib/") + kind).c_str(), BM_Zlib,
                                     std::string(kind))
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const char* kind : kinds) {
        const Corpus& corpus = Corpora().at(kind);
        std::printf("corpus %-10s %9zu bytes in %5zu blocks, deflated to %5.1f%%\n", kind,
                    corpus.bytes, corpus.blocks.size(),
                    corpus.bytes ? 100.0 * double(corpus.compressed) / double(corpus.bytes) : 0);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nthroughput ratio (ours / zlib inflate):\n");
    for (const char* kind : kinds) {
        auto ours = reporter.throughput.find(std::string("Pelmo/") + kind);
        auto zlib = reporter.throughput.find(std::string("Zlib/") + kind);
        if (ours != reporter.throughput.end() && zlib != reporter.throughput.end() &&
            zlib->second > 0)
            std::printf("  %-10s %5.2fx  (%.0f MB/s vs %.0f MB/s)\n", kind,
                        ours->second / zlib->second, ours->second / 1e6, zlib->second / 1e6);
    }
    benchmark::Shutdown();
    return 0;
}
