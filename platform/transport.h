// Fetching a resource by address: http and https (certificates verified), file
// URLs and plain local paths. Used for the upgrade manifest (into memory) and
// for the packages (into a file). Blocking; runs on the calling thread.
// libcurl's proxy variables (http_proxy, https_proxy, ALL_PROXY, no_proxy and
// their upper-case forms) apply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelmo {

// Limits of one transfer. The defaults suit real networks; tests shorten them.
struct TransferOptions {
    // Time allowed to connect (and finish the TLS handshake), in milliseconds.
    long connectTimeoutMs = 30000;
    // A transfer that receives nothing for this long, or that averages less
    // than a byte a second over that time, is given up: a stalled server ends
    // in a failure, not a hang.
    long stallTimeoutMs = 60000;
    // How long to wait between two progress reports when nothing happens.
    long pollIntervalMs = 50;
    // Asked at every progress report: true aborts the transfer (a stop
    // request). Empty: never. Also asked while waiting before a retry.
    std::function<bool()> stopRequested;
    // Pauses, in milliseconds, before the retries of a transfer that broke
    // (the connection failed or was cut, nothing arrived for stallTimeoutMs,
    // or a 5xx answer): one retry per entry. Empty: no retry.
    std::vector<long> retryPausesMs;
    // FetchToFile hands every piece of the resource, in order from its first
    // byte, to this observer (for a hash computed while the data arrives). A
    // resumed download hands over the bytes already on disk first.
    std::function<void(const char* data, std::size_t size)> dataObserver;
    // Called when the resource starts again from its first byte (the server
    // ignored the range, or the resource changed): what the observer saw
    // before no longer counts.
    std::function<void()> dataRestarted;
};

// The pauses of a package download and of the manifest fetch.
inline const std::vector<long> PACKAGE_RETRY_PAUSES_MS = {1000, 2000, 4000, 8000, 16000};
inline const std::vector<long> MANIFEST_RETRY_PAUSES_MS = {1000, 2000};

// Progress statuses handed to a TransferProgress.
inline constexpr int TRANSFER_CONNECTING = 2;    // no data yet (connecting, waiting, redirecting)
inline constexpr int TRANSFER_DOWNLOADING = 5;   // data flows, or a started body stalls
inline constexpr int TRANSFER_END_DOWNLOAD = 6;  // once, after the last byte

// Called often during a transfer, also while nothing arrives, with the bytes
// received so far, the bytes expected (0 when the server did not say) and a
// status. Answering false aborts the transfer, which then fails.
using TransferProgress =
    std::function<bool(uint64_t bytesSoFar, uint64_t bytesExpected, int status)>;

// The outcome of a transfer: ok, or a short reason fit for a person.
struct TransferResult {
    bool ok = false;
    bool aborted = false;  // the progress callback answered false
    std::string error;
};

// True when address names a URL scheme ("http://...", "file:///..."); anything
// else is taken as a plain local path.
bool IsUrlAddress(const std::string& address);

// Fetches address into text. A resource larger than maxBytes is refused.
TransferResult FetchToMemory(const std::string& address, std::size_t maxBytes, std::string& text,
                             const TransferOptions& options = {});

// The partial file of a download into targetPath, and its sidecar, which holds
// the address and the validator (ETag, else Last-Modified) of the answer.
std::string PartialFilePath(const std::string& targetPath);
std::string PartialInfoPath(const std::string& targetPath);

// Fetches address into the file targetPath. The data lands in the partial
// file beside the target, which replaces the target only when the whole
// resource has arrived (its size is the answer's total length). A broken
// transfer is retried as options.retryPausesMs says, from the bytes already
// received: a Range request with If-Range; an answer with the whole resource
// (the server ignores ranges, or the resource changed) starts the file again.
// A partial file that an earlier call left for the same address is resumed
// the same way; one for another address is discarded. On a failure or an
// abort the target is left as it was; the partial file stays, for a later
// call, when the server gave a validator and some bytes arrived, else nothing
// remains. Progress counts bytes of the resource, the resumed ones included.
// progress may be empty.
TransferResult FetchToFile(const std::string& address, const std::string& targetPath,
                           const TransferProgress& progress, const TransferOptions& options = {});

}  // namespace pelmo
