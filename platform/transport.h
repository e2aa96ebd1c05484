// Fetching a resource by address: http and https (certificates verified), file
// URLs and plain local paths. Used for the upgrade manifest (into memory) and
// for the packages (into a file). Blocking; runs on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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
    // FetchToFile hands every piece of the resource, in order, to this
    // observer as it is written (for a hash computed while the data arrives).
    std::function<void(const char* data, std::size_t size)> dataObserver;
};

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

// Fetches address into the file targetPath. The data lands in a temporary file
// beside the target that replaces the target only when the whole resource has
// arrived; on any failure or abort the target is left as it was and no
// temporary file remains. progress may be empty.
TransferResult FetchToFile(const std::string& address, const std::string& targetPath,
                           const TransferProgress& progress, const TransferOptions& options = {});

}  // namespace pelmo
