// Quantum decoding throughput against zlib's inflate on the same bytes, in one
// process. The corpus is gathered at run time: C headers from /usr/include,
// the /usr/bin/cmake program, and text from /usr/share/doc.
//
//   bench_quantum_decode [--benchmark_filter=...]
//
// Prints each benchmark's throughput and, at the end, Quantum's throughput as a
// fraction of zlib's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/heap_services.h"
#include "bench/machine_corpus.h"
#include "bench/zlib_reference.h"
#include "cabinet/decoder.h"
#include "cabinet/writer/quantum_encoder.h"

namespace {

struct Corpus {
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> quantumBlocks;
    std::vector<uint8_t> deflated;
};

const Corpus& GetCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const size_t part = 3u << 20;
        bench_corpus::AppendHeadersProgramAndDocs(part, part, part / 3, {".gz", ".png", ".html"},
                                                  c.data);

        cab::QuantumEncoder encoder(21);
        for (size_t offset = 0; offset < c.data.size(); offset += 32768) {
            uint32_t size = static_cast<uint32_t>(std::min<size_t>(32768, c.data.size() - offset));
            c.quantumBlocks.emplace_back();
            if (!encoder.EncodeFrame(c.data.data() + offset, size, false, c.quantumBlocks.back())) {
                std::abort();
            }
        }
        c.deflated = bench_zlib::DeflateWhole(c.data, 6);
        if (c.deflated.empty()) std::abort();
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
    auto create = [](uint32_t* block, uint32_t* size, const auto& heap, cab::DecoderHandle* made) {
        return cab::QuantumCreate(block, 21, 0, size, heap, made);
    };
    std::vector<uint8_t> output(32768);
    const cab::DecoderHandle handle = CreateOnHeap(state, nullptr, create);
    if (handle == nullptr) return;
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
    bench_zlib::InflateWhole(state, corpus.deflated, corpus.data.size());
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
