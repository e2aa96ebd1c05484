// LZX encoder speed and compressed size on the decoder benchmark's corpus of
// this machine's files (window 2^21, call translation on, frames of 32768
// bytes), the result checked by our decoder.
//
//   bench_lzx_encoder [MIB] [ROUNDS] [CHAIN]
//
// 64 MiB, 3 rounds and the encoder's default search depth unless given;
// prints the median processor-time speed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/frame_encoding.h"
#include "bench/heap_services.h"
#include "bench/machine_corpus.h"
#include "bench/processor_time.h"
#include "cabinet/decoder.h"
#include "cabinet/writer/lzx_encoder.h"

namespace {

using bench_frames::Bytes;
constexpr size_t kFrame = bench_frames::FRAME;

using bench_time::Fail;

void CheckDecodes(const std::vector<Bytes>& blocks, const Bytes& corpus) {
    const cab::DecoderServices services = HeapServices();
    uint32_t maxBlock = kFrame;
    uint32_t bufferSize = 0;
    cab::DecoderHandle handle = nullptr;
    if (cab::LzxCreate(&maxBlock, 1u << 21, &bufferSize, services, &handle) != CAB_DECODER_OK)
        Fail("decoder");
    cab::LzxReset(handle);
    Bytes input(bufferSize);
    Bytes output(kFrame);
    size_t at = 0;
    for (const Bytes& block : blocks) {
        std::copy(block.begin(), block.end(), input.begin());
        uint32_t size = static_cast<uint32_t>(std::min(kFrame, corpus.size() - at));
        if (cab::LzxDecompress(handle, input.data(), static_cast<uint32_t>(block.size()),
                               output.data(), &size) != CAB_DECODER_OK ||
            std::memcmp(corpus.data() + at, output.data(), size) != 0)
            Fail("decoded bytes differ from the corpus");
        at += size;
    }
    cab::LzxDestroy(handle);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    cab::LzxEncoderOptions options;
    options.translateE8 = true;
    if (argc > 3) options.maxChain = std::atoi(argv[3]);
    const Bytes corpus = bench_corpus::MixedCorpus(mib << 20);
    const double mb = static_cast<double>(corpus.size()) / 1e6;
    std::vector<double> seconds;
    size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        auto encoder = cab::MakeLzxEncoder(options);
        if (!encoder) Fail("no encoder for these options");
        double s = 0;
        const bench_frames::Frames frames = bench_frames::Encode(*encoder, corpus, &s);
        seconds.push_back(s);
        if (round == 0) {
            CheckDecodes(frames.blocks, corpus);
            bytes = frames.bytes;
        }
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("LZX encoder, search depth %d: %.1f MB/s (processor time), %zu of %zu bytes\n",
                options.maxChain, mb / seconds[seconds.size() / 2], bytes, corpus.size());
    return 0;
}
