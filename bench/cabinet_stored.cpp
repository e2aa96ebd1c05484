// Extraction of a stored cabinet against a plain file copy of the same bytes,
// both in this process: the reader's cost on top of the I/O it must do. The
// counters show the library's peak heap, which must not grow with the size
// of the cabinet.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cabinet/cabinet.h"
#include "cabinet/writer/cabinet_writer.h"
#include "platform/cabinet_file_io.h"

namespace {

namespace fs = std::filesystem;
using namespace pelmo::platform;

long g_current = 0;
long g_peak = 0;

void* CountingAlloc(uint32_t size) {
    auto* block = static_cast<uint32_t*>(std::malloc(size + 16u));
    if (block == nullptr) return nullptr;
    block[0] = size;
    g_current += size;
    if (g_current > g_peak) g_peak = g_current;
    return reinterpret_cast<char*>(block) + 16;
}

void CountingFree(void* memory) {
    if (memory == nullptr) return;
    auto* block = reinterpret_cast<uint32_t*>(static_cast<char*>(memory) - 16);
    g_current -= block[0];
    std::free(block);
}

fs::path Scratch() {
    static const fs::path dir =
        fs::temp_directory_path() / ("pelmo_bench_" + std::to_string(getpid()));
    return dir;
}

// A stored cabinet holding one file of `megabytes` MB of varied bytes.
std::string MakeCabinet(int megabytes) {
    const fs::path dir = Scratch();
    fs::create_directories(dir);
    const std::string name = "stored" + std::to_string(megabytes) + ".cab";
    if (fs::exists(dir / name)) return (dir / name).string();
    cab::CabinetWriterOptions options;
    options.directory = dir.string();
    options.cabinetName = [name](int) { return name; };
    cab::CabinetWriter writer(options);
    writer.StartFolder([] { return cab::MakeStoredEncoder(); });
    cab::CabinetFileInfo info;
    info.name = "payload.bin";
    uint64_t remaining = static_cast<uint64_t>(megabytes) << 20;
    uint32_t x = 1;
    writer.AddFile(info, remaining, [&](uint8_t* buffer, size_t count) -> long {
        const size_t n = std::min<uint64_t>(count, remaining);
        for (size_t i = 0; i < n; ++i) {
            x = x * 1103515245u + 12345u;
            buffer[i] = static_cast<uint8_t>(x >> 16);
        }
        remaining -= n;
        return static_cast<long>(n);
    });
    writer.Finish();
    return (dir / name).string();
}

std::string g_outputPath;

int Notify(int kind, CabNotification* n) {
    if (kind == CAB_NOTIFY_FILE_START) {
        return CabinetFileOpen(g_outputPath.c_str(), 0x8000 | 0x1 | 0x100 | 0x200, 0x180);
    }
    if (kind == CAB_NOTIFY_FILE_DONE) return CabinetFileClose(n->fileHandle) == 0 ? 1 : 0;
    return 0;
}

void BM_ExtractStored(benchmark::State& state) {
    const std::string cabinet = MakeCabinet(static_cast<int>(state.range(0)));
    g_outputPath = (Scratch() / "extracted.bin").string();
    const std::string folder = Scratch().string() + "/";
    const std::string name = fs::path(cabinet).filename().string();
    g_peak = 0;
    for (auto _ : state) {
        CabErrorRecord error{};
        CabContext* context =
            CabCreate(CountingAlloc, CountingFree, CabinetFileOpen, CabinetFileRead,
                      CabinetFileWrite, CabinetFileClose, CabinetFileSeek, 0, &error);
        if (!CabCopy(context, name.c_str(), folder.c_str(), 0, Notify, nullptr, nullptr)) {
            state.SkipWithError("extraction failed");
        }
        CabDestroy(context);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (state.range(0) << 20));
    state.counters["peak_heap_bytes"] = static_cast<double>(g_peak);
}

// The reference: copying the cabinet file's bytes with the same block size.
void BM_CopyReference(benchmark::State& state) {
    const std::string cabinet = MakeCabinet(static_cast<int>(state.range(0)));
    const std::string target = (Scratch() / "copied.bin").string();
    std::vector<char> buffer(32768);
    for (auto _ : state) {
        const int in = ::open(cabinet.c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n <= 0) break;
            if (::write(out, buffer.data(), static_cast<size_t>(n)) != n) break;
        }
        ::close(in);
        ::close(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (state.range(0) << 20));
}

BENCHMARK(BM_CopyReference)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractStored)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(Scratch());
    return 0;
}
