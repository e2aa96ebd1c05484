// Our three decoders against reference inflaters on one corpus of this
// machine's files (headers, documentation, programs and libraries), side by
// side in every round; prints the median of the rounds' speed ratios.
//
//   bench_decoders_vs_references [MIB] [ROUNDS] [CODEC]
//
// 64 MiB and 7 rounds unless given; CODEC (mszip, lzx or quantum) limits the
// run to one codec and its references, for profiling.
//
// MSZIP: independent 32 KB blocks ("CK" and a raw deflate stream, zlib level 6),
// decoded by ours, by zlib's inflate and by libdeflate, block by block; ours a
// second time as a folder's blocks, in the reader's buffers with the previous
// block kept as history, as in a cabinet (no goal: for comparison). LZX and
// Quantum: our encoders at window 2^21, against zlib's inflate of the whole
// corpus deflated at level 6 in one stream. The LZX encoder's speed is printed
// too. Every decoder's output is compared with the corpus in the first round.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/frame_encoding.h"
#include "bench/heap_services.h"
#include "bench/machine_corpus.h"
#include "bench/processor_time.h"
#include "bench/zlib_reference.h"
#include "cabinet/decoder.h"
#include "cabinet/writer/folder_encoder.h"

namespace {

using bench_frames::Bytes;
constexpr size_t kFrame = bench_frames::FRAME;

using bench_time::CpuSeconds;
using bench_time::Fail;

using bench_frames::Encode;
using bench_frames::Frames;

// "CK" and a raw deflate stream of the frame alone.
Frames IndependentMszip(const Bytes& data) {
    Frames frames;
    for (size_t pos = 0; pos < data.size(); pos += kFrame) {
        uLong size = static_cast<uLong>(std::min(kFrame, data.size() - pos));
        z_stream z{};
        if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) Fail("zlib");
        Bytes block(2 + deflateBound(&z, size));
        block[0] = 'C';
        block[1] = 'K';
        z.next_in = const_cast<Bytef*>(data.data() + pos);
        z.avail_in = static_cast<uInt>(size);
        z.next_out = block.data() + 2;
        z.avail_out = static_cast<uInt>(block.size() - 2);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) Fail("deflate failed");
        block.resize(2 + z.total_out);
        deflateEnd(&z);
        frames.bytes += block.size();
        frames.blocks.push_back(std::move(block));
    }
    return frames;
}

// One decoder run over the whole corpus; `check` compares each block's output.
using Run = std::function<void(const Bytes& corpus, bool check)>;

void Check(bool check, const Bytes& corpus, size_t at, const uint8_t* out, size_t size) {
    if (check && (at + size > corpus.size() || std::memcmp(corpus.data() + at, out, size) != 0))
        Fail("decoded bytes differ from the corpus");
}

// Our decoder over a folder's blocks. With `independent` each block is decoded
// as the references decode it: straight from its own bytes, after a reset
// (zlib's inflateReset), since nothing refers to an earlier block.
template <typename Create, typename Decompress, typename Reset, typename Destroy>
Run OurDecoder(const Frames& frames, Create create, Decompress decompress, Reset reset,
               Destroy destroy, bool independent = false) {
    return [&frames, create, decompress, reset, destroy, independent](const Bytes& corpus,
                                                                      bool check) {
        const cab::DecoderServices services = HeapServices();
        uint32_t maxBlock = kFrame;
        uint32_t bufferSize = 0;
        cab::DecoderHandle handle = nullptr;
        if (create(&maxBlock, &bufferSize, services, &handle) != CAB_DECODER_OK) Fail("create");
        reset(handle);
        Bytes input(bufferSize);
        Bytes output(kFrame);
        size_t at = 0;
        for (const Bytes& block : frames.blocks) {
            // Else the reader hands each block over in its compressed buffer.
            const uint8_t* data = block.data();
            if (independent) {
                reset(handle);
            } else {
                std::copy(block.begin(), block.end(), input.begin());
                data = input.data();
            }
            uint32_t size = static_cast<uint32_t>(std::min(kFrame, corpus.size() - at));
            if (decompress(handle, data, static_cast<uint32_t>(block.size()), output.data(),
                           &size) != CAB_DECODER_OK) {
                Fail("our decoder failed");
            }
            Check(check, corpus, at, output.data(), size);
            at += size;
        }
        destroy(handle);
    };
}

Run ZlibBlocks(const Frames& frames) {
    return [&frames](const Bytes& corpus, bool check) {
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) Fail("zlib");
        Bytes output(kFrame);
        size_t at = 0;
        for (const Bytes& block : frames.blocks) {
            inflateReset(&z);
            z.next_in = const_cast<Bytef*>(block.data() + 2);
            z.avail_in = static_cast<uInt>(block.size() - 2);
            z.next_out = output.data();
            z.avail_out = kFrame;
            if (inflate(&z, Z_FINISH) != Z_STREAM_END) Fail("inflate failed");
            size_t size = kFrame - z.avail_out;
            Check(check, corpus, at, output.data(), size);
            at += size;
        }
        inflateEnd(&z);
    };
}

Run LibdeflateBlocks(const Frames& frames) {
    return [&frames](const Bytes& corpus, bool check) {
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        Bytes output(kFrame);
        size_t at = 0;
        for (const Bytes& block : frames.blocks) {
            size_t size = 0;
            if (libdeflate_deflate_decompress(d, block.data() + 2, block.size() - 2, output.data(),
                                              kFrame, &size) != LIBDEFLATE_SUCCESS) {
                Fail("libdeflate failed");
            }
            Check(check, corpus, at, output.data(), size);
            at += size;
        }
        libdeflate_free_decompressor(d);
    };
}

Run ZlibWhole(const Bytes& deflated) {
    return [&deflated](const Bytes& corpus, bool check) {
        Bytes output(corpus.size());
        uLongf size = static_cast<uLongf>(output.size());
        if (uncompress(output.data(), &size, deflated.data(),
                       static_cast<uLong>(deflated.size())) != Z_OK) {
            Fail("inflate failed");
        }
        Check(check, corpus, 0, output.data(), size);
    };
}

double Seconds(const Run& run, const Bytes& corpus, bool check) {
    double start = CpuSeconds();
    run(corpus, check);
    return CpuSeconds() - start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::string only = argc > 3 ? argv[3] : "";
    auto wanted = [&only](const char* codec) { return only.empty() || only == codec; };
    const Bytes corpus = bench_corpus::MixedCorpus(mib << 20);
    const double mb = static_cast<double>(corpus.size()) / 1e6;

    const Frames mszip = wanted("mszip") ? IndependentMszip(corpus) : Frames{};
    Frames lzx;
    if (wanted("lzx")) {
        double seconds = 0;
        auto encoder = cab::MakeLzxEncoder(21, true);
        lzx = Encode(*encoder, corpus, &seconds);
        std::printf("LZX encoder: %.1f MB/s (processor time)\n", mb / seconds);
    }
    Frames quantum;
    if (wanted("quantum")) {
        auto encoder = cab::MakeQuantumEncoder(21);
        quantum = Encode(*encoder, corpus);
    }
    const Bytes deflated = bench_zlib::DeflateWhole(corpus, 6);
    if (deflated.empty()) Fail("deflate failed");
    std::printf("corpus %zu bytes; zlib-6 %zu, MSZIP %zu, LZX %zu, Quantum %zu bytes\n",
                corpus.size(), deflated.size(), mszip.bytes, lzx.bytes, quantum.bytes);

    using namespace cab;
    struct Row {
        const char* name;
        const char* codec;
        Run run;
        std::vector<double> seconds;
    };
    std::vector<Row> rows = {
        {"MSZIP (ours)",
         "mszip",
         OurDecoder(mszip, MszipCreate, MszipDecompress, MszipReset, MszipDestroy, true),
         {}},
        {"zlib inflate, MSZIP blocks", "mszip", ZlibBlocks(mszip), {}},
        {"libdeflate, MSZIP blocks", "mszip", LibdeflateBlocks(mszip), {}},
        {"MSZIP (ours), history kept",
         "mszip",
         OurDecoder(mszip, MszipCreate, MszipDecompress, MszipReset, MszipDestroy),
         {}},
        {"LZX (ours)",
         "lzx",
         OurDecoder(
             lzx,
             [](uint32_t* maxBlock, uint32_t* bufferSize, const DecoderServices& s,
                DecoderHandle* h) { return LzxCreate(maxBlock, 1u << 21, bufferSize, s, h); },
             LzxDecompress, LzxReset, LzxDestroy),
         {}},
        {"Quantum (ours)",
         "quantum",
         OurDecoder(
             quantum,
             [](uint32_t* maxBlock, uint32_t* bufferSize, const DecoderServices& s,
                DecoderHandle* h) { return QuantumCreate(maxBlock, 21, 0, bufferSize, s, h); },
             QuantumDecompress, QuantumReset, QuantumDestroy),
         {}},
        {"zlib inflate, whole corpus", "", ZlibWhole(deflated), {}},
    };
    for (int round = 0; round < rounds; ++round) {
        for (Row& row : rows) {
            if (*row.codec == '\0' || wanted(row.codec))
                row.seconds.push_back(Seconds(row.run, corpus, round == 0));
        }
    }

    std::printf("\n%-28s %10s %10s %10s\n", "decoder", "MB/s", "min MB/s", "max MB/s");
    for (const Row& row : rows) {
        if (row.seconds.empty()) continue;
        auto [low, high] = std::minmax_element(row.seconds.begin(), row.seconds.end());
        std::printf("%-28s %10.1f %10.1f %10.1f\n", row.name, mb / Median(row.seconds), mb / *high,
                    mb / *low);
    }
    // Ratios of speeds within each round (the reference's time over ours).
    auto ratio = [&rows](size_t ours, size_t reference, double* low, double* high) {
        std::vector<double> values;
        for (size_t i = 0; i < rows[ours].seconds.size(); ++i)
            values.push_back(rows[reference].seconds[i] / rows[ours].seconds[i]);
        *low = *std::min_element(values.begin(), values.end());
        *high = *std::max_element(values.begin(), values.end());
        return Median(values);
    };
    struct Goal {
        const char* codec;
        size_t ours, reference;
        const char* against;
        double goal;
    };
    const Goal goals[] = {{"MSZIP", 0, 1, "zlib inflate", 0},
                          {"MSZIP", 0, 2, "libdeflate", 1.0},
                          {"MSZIP, history kept", 3, 2, "libdeflate", 0},
                          {"LZX", 4, 6, "zlib inflate", 1.5},
                          {"Quantum", 5, 6, "zlib inflate", 0.3}};
    std::printf("\n| Codec | Against | Median ratio (%d rounds) | Range | Goal |\n", rounds);
    std::printf("|---|---|---|---|---|\n");
    for (const Goal& g : goals) {
        if (rows[g.ours].seconds.empty()) continue;
        double low, high;
        double median = ratio(g.ours, g.reference, &low, &high);
        char goal[32] = "-";
        if (g.goal > 0)
            std::snprintf(goal, sizeof goal, "%s %.2fx", median >= g.goal ? "met" : "NOT met",
                          g.goal);
        std::printf("| %s | %s | %.2fx | %.2f-%.2f | %s |\n", g.codec, g.against, median, low, high,
                    goal);
    }
    return 0;
}
