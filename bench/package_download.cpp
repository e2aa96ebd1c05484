// A large package over loopback: our transport's fetch into a file against the
// curl command line fetching the same address, side by side in one run, plus
// the peak memory of this process (which must not grow with the package). The
// fetch runs twice: as is, and hashing the data as it arrives (SHA-256, what
// a package with a SHA256 in its manifest costs). The same package with its
// connection cut three times (each cut resumed at once, without the program's
// pauses) against the undisturbed fetch.
//
//   bench_package_download [--benchmark_repetitions=3]
//   PELMO_BENCH_DOWNLOAD_MB=200 (default) sets the package size.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/transport.h"
#include "trust/sha256.h"

namespace fs = std::filesystem;

namespace {

struct Source {
    fs::path folder;
    std::string address, cutAddress;
    uint64_t bytes = 0;
    pid_t server = -1;
};

Source& TheSource() {
    static Source source = [] {
        Source s;
        const char* mb = std::getenv("PELMO_BENCH_DOWNLOAD_MB");
        s.bytes = uint64_t(mb ? std::atoi(mb) : 200) << 20;
        s.folder = fs::temp_directory_path() / ("pelmo-bench-download-" + std::to_string(getpid()));
        fs::create_directories(s.folder / "www");
        {
            std::ofstream out(s.folder / "www" / "2005.cab", std::ios::binary);
            std::mt19937_64 random(7);
            std::vector<uint64_t> chunk(1 << 17);
            for (uint64_t done = 0; done < s.bytes; done += chunk.size() * 8) {
                for (auto& word : chunk) word = random();
                out.write(reinterpret_cast<const char*>(chunk.data()),
                          std::streamsize(std::min<uint64_t>(chunk.size() * 8, s.bytes - done)));
            }
        }
        fs::create_hard_link(s.folder / "www" / "2005.cab", s.folder / "www" / "cut.cab");
        int pipeOut[2];
        if (pipe(pipeOut) != 0) std::abort();
        s.server = fork();
        if (s.server == 0) {
            dup2(pipeOut[1], 1);
            const std::string script =
                std::string(PELMO_SOURCE_DIR) + "/tests/support/http_server.py";
            const std::string root = (s.folder / "www").string();
            // Four answers, the first three cut: bytes 0 to a quarter, and so on.
            const std::string cut = "/cut.cab=drop-every:" + std::to_string(s.bytes / 4 + 1);
            execlp("python3", "python3", script.c_str(), "--root", root.c_str(), "--fault",
                   cut.c_str(), nullptr);
            _exit(127);
        }
        close(pipeOut[1]);
        FILE* portLine = fdopen(pipeOut[0], "r");
        int port = 0;
        if (std::fscanf(portLine, "%d", &port) != 1) std::abort();
        s.address = "http://127.0.0.1:" + std::to_string(port) + "/2005.cab";
        s.cutAddress = "http://127.0.0.1:" + std::to_string(port) + "/cut.cab";
        std::atexit([] {
            kill(TheSource().server, SIGTERM);
            waitpid(TheSource().server, nullptr, 0);
            fs::remove_all(TheSource().folder);
        });
        return s;
    }();
    return source;
}

// The bytes of the package fetched per second, and this process's peak memory.
void ReportTransfers(benchmark::State& state, const Source& source) {
    state.SetBytesProcessed(int64_t(state.iterations() * source.bytes));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
}

void BM_TransportFetchToFile(benchmark::State& state, bool hashed) {
    Source& source = TheSource();
    const std::string target = (source.folder / "ours.cab").string();
    for (auto _ : state) {
        pelmo::trust::Sha256 hash;
        pelmo::TransferOptions options;
        if (hashed) {
            options.dataObserver = [&hash](const char* data, std::size_t size) {
                hash.Update(data, size);
            };
        }
        pelmo::TransferResult result = pelmo::FetchToFile(source.address, target, {}, options);
        if (!result.ok) state.SkipWithError(result.error.c_str());
        benchmark::DoNotOptimize(hash.FinishHex());
    }
    ReportTransfers(state, source);
}

void BM_TransportFetchToFileThreeCuts(benchmark::State& state) {
    Source& source = TheSource();
    const std::string target = (source.folder / "cut.cab").string();
    pelmo::TransferOptions options;
    options.retryPausesMs = {0, 0, 0, 0, 0};
    for (auto _ : state) {
        pelmo::TransferResult result = pelmo::FetchToFile(source.cutAddress, target, {}, options);
        if (!result.ok) state.SkipWithError(result.error.c_str());
    }
    ReportTransfers(state, source);
}

void BM_CurlCommand(benchmark::State& state) {
    Source& source = TheSource();
    const std::string command =
        "curl -s -f -o '" + (source.folder / "curl.cab").string() + "' '" + source.address + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * source.bytes));
}

}  // namespace

BENCHMARK(BM_CurlCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_TransportFetchToFile, plain, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_TransportFetchToFile, sha256, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_TransportFetchToFileThreeCuts)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

BENCHMARK_MAIN();
