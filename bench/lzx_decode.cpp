// LZX decoding throughput against zlib's inflate on the same corpus.
//
// The corpus is made at start-up from files of this machine: C headers under
// /usr/include, a large executable and text under /usr/share/doc. The LZX copy
// is made with our encoder at window 2^21 (frames of 32768 bytes, call
// translation on), the deflate copy with zlib level 9. Both benchmarks report
// bytes of output per second; the LZX one also reports the compression sizes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/heap_services.h"
#include "bench/machine_corpus.h"
#include "bench/zlib_reference.h"
#include "cabinet/decoder.h"
#include "cabinet/writer/lzx_encoder.h"

namespace {

struct Corpus {
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> lzxFrames;
    std::vector<uint32_t> frameSizes;
    std::vector<uint8_t> deflated;
    size_t lzxBytes = 0;

    Corpus() {
        bench_corpus::AppendHeadersProgramAndDocs(6u << 20, 16u << 20, 3u << 20,
                                                  {".gz", ".png", ".jpg", ".pdf"}, data);

        cab::LzxEncoderOptions options;
        options.windowBits = 21;
        options.translateE8 = true;
        auto encoder = cab::MakeLzxEncoder(options);
        for (size_t pos = 0; pos < data.size(); pos += 32768) {
            uint32_t size = static_cast<uint32_t>(std::min<size_t>(32768, data.size() - pos));
            std::vector<uint8_t> frame;
            if (!encoder->EncodeFrame(data.data() + pos, size, pos + size >= data.size(), frame)) {
                std::fprintf(stderr, "LZX encoding failed\n");
                std::exit(1);
            }
            lzxBytes += frame.size();
            lzxFrames.push_back(std::move(frame));
            frameSizes.push_back(size);
        }

        deflated = bench_zlib::DeflateWhole(data, 9);
        if (deflated.empty()) {
            std::fprintf(stderr, "deflate failed\n");
            std::exit(1);
        }
    }
};

const Corpus& TheCorpus() {
    static const Corpus corpus;
    return corpus;
}

void BM_LzxDecode(benchmark::State& state) {
    const Corpus& corpus = TheCorpus();
    uint32_t bufferSize = 0;
    const cab::DecoderHandle handle = CreateOnHeap(
        state, &bufferSize,
        [](uint32_t* block, uint32_t* size, const auto& heap, cab::DecoderHandle* made) {
            return cab::LzxCreate(block, 1u << 21, size, heap, made);
        });
    if (handle == nullptr) return;
    std::vector<uint8_t> output(32768);
    std::vector<uint8_t> input(bufferSize);
    for (auto _ : state) {
        cab::LzxReset(handle);
        for (size_t i = 0; i < corpus.lzxFrames.size(); ++i) {
            // The reader hands each block over in its compressed buffer.
            const auto& frame = corpus.lzxFrames[i];
            std::copy(frame.begin(), frame.end(), input.begin());
            uint32_t size = corpus.frameSizes[i];
            if (cab::LzxDecompress(handle, input.data(), static_cast<uint32_t>(frame.size()),
                                   output.data(), &size) != CAB_DECODER_OK) {
                state.SkipWithError("decode failed");
                break;
            }
            benchmark::DoNotOptimize(output.data());
        }
    }
    cab::LzxDestroy(handle);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(corpus.data.size()));
    state.counters["corpus_bytes"] = static_cast<double>(corpus.data.size());
    state.counters["lzx_bytes"] = static_cast<double>(corpus.lzxBytes);
    state.counters["zlib9_bytes"] = static_cast<double>(corpus.deflated.size());
    state.counters["lzx_vs_zlib9_size"] =
        static_cast<double>(corpus.lzxBytes) / static_cast<double>(corpus.deflated.size());
}

void BM_ZlibInflate(benchmark::State& state) {
    const Corpus& corpus = TheCorpus();
    bench_zlib::InflateWhole(state, corpus.deflated, corpus.data.size());
}

BENCHMARK(BM_LzxDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
