#include "platform/transport.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace pelmo {
namespace {

constexpr std::size_t COPY_CHUNK = 1 << 20;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string ErrnoText(const char* what, const std::string& path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

// Where the bytes of a transfer go: memory with a cap, or a file descriptor.
class TransferSink {
  public:
    virtual ~TransferSink() = default;
    // False stops the transfer; error() tells why.
    virtual bool Write(const char* data, std::size_t size) = 0;
    const std::string& error() const { return error_; }

  protected:
    std::string error_;
};

class MemorySink final : public TransferSink {
  public:
    MemorySink(std::string& text, std::size_t maxBytes) : text_(text), maxBytes_(maxBytes) {}
    bool Write(const char* data, std::size_t size) override {
        if (size > maxBytes_ - text_.size()) {
            error_ = "larger than " + std::to_string(maxBytes_) + " bytes";
            return false;
        }
        text_.append(data, size);
        return true;
    }

  private:
    std::string& text_;
    std::size_t maxBytes_;
};

class FileSink final : public TransferSink {
  public:
    FileSink(int fd, std::string path, const TransferOptions& options)
        : fd_(fd), path_(std::move(path)), observer_(options.dataObserver) {}
    bool Write(const char* data, std::size_t size) override {
        if (observer_) observer_(data, size);
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                error_ = ErrnoText("cannot write", path_, errno);
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

  private:
    int fd_;
    std::string path_;
    const std::function<void(const char*, std::size_t)>& observer_;
};

// One libcurl transfer, driven by the multi interface so that the progress
// callback runs at least every pollIntervalMs even when no data arrives.
class CurlTransfer {
  public:
    CurlTransfer(TransferSink& sink, const TransferProgress* progress)
        : sink_(sink), progress_(progress) {}

    TransferResult Run(const std::string& url, const TransferOptions& options,
                       curl_off_t maxBytes) {
        InitCurlOnce();
        TransferResult result;
        CURL* easy = curl_easy_init();
        CURLM* multi = curl_multi_init();
        if (easy == nullptr || multi == nullptr) {
            if (easy) curl_easy_cleanup(easy);
            if (multi) curl_multi_cleanup(multi);
            result.error = "cannot start a transfer";
            return result;
        }
        char errorText[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,file");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                         std::max(1L, (options.stallTimeoutMs + 999) / 1000));
        stallTimeout_ = std::chrono::milliseconds(options.stallTimeoutMs);
        lastData_ = std::chrono::steady_clock::now();
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "pelmo-upgrader");
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        if (maxBytes > 0) curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, maxBytes);

        CURLcode code = CURLE_OK;
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
        } else {
            int running = 1;
            while (running > 0) {
                if (curl_multi_perform(multi, &running) != CURLM_OK) {
                    code = CURLE_OUT_OF_MEMORY;
                    break;
                }
                if (running == 0) break;
                if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(options.pollIntervalMs),
                                    nullptr) != CURLM_OK) {
                    code = CURLE_OUT_OF_MEMORY;
                    break;
                }
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE) code = message->data.result;
            }
            curl_multi_remove_handle(multi, easy);
        }

        curl_off_t received = 0, expected = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        long httpStatus = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);

        if (code == CURLE_OK) {
            result.ok = true;
            if (progress_ != nullptr && *progress_ &&
                !(*progress_)(static_cast<uint64_t>(received),
                              static_cast<uint64_t>(expected > 0 ? expected : received),
                              TRANSFER_END_DOWNLOAD)) {
                result.ok = false;
                result.aborted = true;
                result.error = "cancelled";
            }
        } else if (code == CURLE_ABORTED_BY_CALLBACK && stalled_) {
            result.error = "no data for " + std::to_string(options.stallTimeoutMs) + " ms";
        } else if (code == CURLE_ABORTED_BY_CALLBACK) {
            result.aborted = true;
            result.error = "cancelled";
        } else if (code == CURLE_WRITE_ERROR && !sink_.error().empty()) {
            result.error = sink_.error();
        } else if (code == CURLE_HTTP_RETURNED_ERROR) {
            result.error = "HTTP status " + std::to_string(httpStatus);
        } else if (code == CURLE_FILESIZE_EXCEEDED) {
            result.error = "larger than " + std::to_string(maxBytes) + " bytes";
        } else {
            result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
        }
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        return result;
    }

  private:
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
        auto* transfer = static_cast<CurlTransfer*>(self);
        transfer->bodyStarted_ = true;
        return transfer->sink_.Write(data, size * count) ? size * count : 0;
    }

    static int OnProgress(void* self, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
        auto* transfer = static_cast<CurlTransfer*>(self);
        const auto clock = std::chrono::steady_clock::now();
        if (now != transfer->lastCount_) {
            transfer->lastCount_ = now;
            transfer->lastData_ = clock;
        } else if (clock - transfer->lastData_ > transfer->stallTimeout_) {
            transfer->stalled_ = true;
            return 1;
        }
        if (transfer->progress_ == nullptr || !*transfer->progress_) return 0;
        const int status = transfer->bodyStarted_ ? TRANSFER_DOWNLOADING : TRANSFER_CONNECTING;
        return (*transfer->progress_)(static_cast<uint64_t>(now), static_cast<uint64_t>(total),
                                      status)
                   ? 0
                   : 1;
    }

    TransferSink& sink_;
    const TransferProgress* progress_;
    bool bodyStarted_ = false;
    // Stall detection: when the byte count last changed.
    bool stalled_ = false;
    curl_off_t lastCount_ = 0;
    std::chrono::steady_clock::time_point lastData_;
    std::chrono::milliseconds stallTimeout_{0};
};

// Copies a plain local file into sink, reporting progress per chunk.
TransferResult CopyLocalFile(const std::string& path, TransferSink& sink,
                             const TransferProgress* progress) {
    TransferResult result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = ErrnoText("cannot open", path, errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.error = "not a regular file: " + path;
        return result;
    }
    const uint64_t expected = static_cast<uint64_t>(info.st_size);
    uint64_t done = 0;
    std::vector<char> buffer(COPY_CHUNK);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = ErrnoText("cannot read", path, errno);
            ::close(fd);
            return result;
        }
        if (n == 0) break;
        if (!sink.Write(buffer.data(), static_cast<std::size_t>(n))) {
            result.error = sink.error();
            ::close(fd);
            return result;
        }
        done += static_cast<uint64_t>(n);
        if (progress != nullptr && *progress &&
            !(*progress)(done, expected, TRANSFER_DOWNLOADING)) {
            result.aborted = true;
            result.error = "cancelled";
            ::close(fd);
            return result;
        }
    }
    ::close(fd);
    if (progress != nullptr && *progress && !(*progress)(done, done, TRANSFER_END_DOWNLOAD)) {
        result.aborted = true;
        result.error = "cancelled";
        return result;
    }
    result.ok = true;
    return result;
}

TransferResult Fetch(const std::string& address, TransferSink& sink,
                     const TransferProgress* progress, const TransferOptions& options,
                     curl_off_t maxBytes) {
    if (address.empty()) {
        TransferResult result;
        result.error = "no address";
        return result;
    }
    if (!IsUrlAddress(address)) return CopyLocalFile(address, sink, progress);
    return CurlTransfer(sink, progress).Run(address, options, maxBytes);
}

}  // namespace

bool IsUrlAddress(const std::string& address) {
    const std::size_t colon = address.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isAlpha(address[0])) return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = address[i];
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

TransferResult FetchToMemory(const std::string& address, std::size_t maxBytes, std::string& text,
                             const TransferOptions& options) {
    text.clear();
    MemorySink sink(text, maxBytes);
    TransferResult result =
        Fetch(address, sink, nullptr, options, static_cast<curl_off_t>(maxBytes));
    if (!result.ok) text.clear();
    return result;
}

TransferResult FetchToFile(const std::string& address, const std::string& targetPath,
                           const TransferProgress& progress, const TransferOptions& options) {
    TransferResult result;
    std::string temporary = targetPath + ".partXXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        result.error = ErrnoText("cannot create", temporary, errno);
        return result;
    }
    FileSink sink(fd, temporary, options);
    result = Fetch(address, sink, &progress, options, 0);
    if (::close(fd) != 0 && result.ok) {
        result.ok = false;
        result.error = ErrnoText("cannot write", temporary, errno);
    }
    if (result.ok && ::rename(temporary.c_str(), targetPath.c_str()) != 0) {
        result.ok = false;
        result.error = ErrnoText("cannot replace", targetPath, errno);
    }
    if (!result.ok) ::unlink(temporary.c_str());
    return result;
}

}  // namespace pelmo
