#include "platform/transport.h"

#include "platform/transfer_attempt.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace pelmo {
namespace {

constexpr std::size_t COPY_CHUNK = 1 << 20;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class MemorySink final : public transfer::Sink {
  public:
    MemorySink(std::string& text, std::size_t maxBytes) : text_(text), maxBytes_(maxBytes) {}
    bool Begin(uint64_t start, const std::string&) override {
        text_.clear();
        return start == 0;
    }
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

// The value of a header line "Name: value\r\n" when its name is name.
bool HeaderValue(const char* line, std::size_t size, const char* name, std::string& value) {
    const std::size_t length = std::strlen(name);
    if (size <= length || ::strncasecmp(line, name, length) != 0 || line[length] != ':') {
        return false;
    }
    std::size_t begin = length + 1, end = size;
    while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
    while (end > begin && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' '))
        --end;
    value.assign(line + begin, end - begin);
    return true;
}

// The proxy of an http address from the upper-case HTTP_PROXY, which libcurl
// leaves alone (where a web server runs a program, a request header can set
// it); for a desktop program it is one of the standard forms. "" when the
// lower-case form is set, or the upper-case one is not: libcurl then reads the
// variables itself.
std::string UpperCaseHttpProxy(const std::string& url) {
    const char* lower = std::getenv("http_proxy");
    const char* upper = std::getenv("HTTP_PROXY");
    if (::strncasecmp(url.c_str(), "http://", 7) != 0 || (lower != nullptr && *lower != '\0') ||
        upper == nullptr) {
        return "";
    }
    return upper;
}

// One libcurl transfer, driven by the multi interface so that the progress
// callback runs at least every pollIntervalMs even when no data arrives.
class CurlTransfer {
  public:
    CurlTransfer(transfer::Sink& sink, const TransferProgress* progress,
                 const transfer::AttemptRequest& request)
        : sink_(sink), progress_(progress), request_(request), base_(request.offset) {}

    transfer::AttemptAnswer Run(const std::string& url, const TransferOptions& options) {
        InitCurlOnce();
        transfer::AttemptAnswer answer;
        TransferResult& result = answer.result;
        CURL* easy = curl_easy_init();
        CURLM* multi = curl_multi_init();
        curl_slist* headers = nullptr;
        if (!request_.validator.empty()) {
            headers = curl_slist_append(nullptr, ("If-Range: " + request_.validator).c_str());
        }
        if (easy == nullptr || multi == nullptr || (!request_.validator.empty() && !headers)) {
            if (easy) curl_easy_cleanup(easy);
            if (multi) curl_multi_cleanup(multi);
            curl_slist_free_all(headers);
            result.error = "cannot start a transfer";
            return answer;
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
        stopRequested_ = &options.stopRequested;
        lastData_ = std::chrono::steady_clock::now();
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "pelmo-upgrader");
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        if (request_.maxBytes > 0) {
            curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(request_.maxBytes));
        }
        // A plain Range (not a resume): an answer with the whole resource is
        // taken as it comes.
        const std::string range = std::to_string(request_.offset) + "-";
        if (request_.offset > 0) curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
        if (headers != nullptr) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        const std::string proxy = UpperCaseHttpProxy(url);
        if (!proxy.empty()) curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());

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
        answer.validator = Validator();
        if (totalFromRange_ > 0) {
            answer.total = totalFromRange_;
        } else if (expected >= 0 && (httpStatus == 200 || !IsHttp(url))) {
            answer.total = static_cast<uint64_t>(expected);
        }

        if (code == CURLE_OK) {
            result.ok = true;
            if (!bodyStarted_ && !sink_.Begin(0, answer.validator)) {  // an empty body
                result.ok = false;
                result.error = sink_.error();
            } else if (progress_ != nullptr && *progress_ &&
                       !(*progress_)(base_ + static_cast<uint64_t>(received),
                                     base_ + static_cast<uint64_t>(expected > 0 ? expected
                                                                                : received),
                                     TRANSFER_END_DOWNLOAD)) {
                result.ok = false;
                result.aborted = true;
                result.error = "cancelled";
            }
        } else if (code == CURLE_ABORTED_BY_CALLBACK && stalled_) {
            result.error = "no data for " + std::to_string(options.stallTimeoutMs) + " ms";
            answer.retryable = true;
        } else if (code == CURLE_ABORTED_BY_CALLBACK ||
                   (code == CURLE_WRITE_ERROR && cancelledInWrite_)) {
            result.aborted = true;
            result.error = "cancelled";
        } else if (code == CURLE_WRITE_ERROR && !sink_.error().empty()) {
            result.error = sink_.error();
        } else if (code == CURLE_HTTP_RETURNED_ERROR) {
            result.error = "HTTP status " + std::to_string(httpStatus);
            answer.retryable = httpStatus >= 500;
            answer.rangeRefused = httpStatus == 416 && request_.offset > 0;
        } else if (code == CURLE_FILESIZE_EXCEEDED) {
            result.error = "larger than " + std::to_string(request_.maxBytes) + " bytes";
        } else {
            result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
            answer.retryable = IsBrokenConnection(code);
        }
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        return answer;
    }

  private:
    // What an If-Range may carry: a strong ETag, else the date.
    std::string Validator() const {
        return !etag_.empty() && etag_.rfind("W/", 0) != 0 ? etag_ : lastModified_;
    }

    static bool IsHttp(const std::string& url) { return ::strncasecmp(url.c_str(), "http", 4) == 0; }

    // Failures of the network that a later attempt may not meet.
    static bool IsBrokenConnection(CURLcode code) {
        switch (code) {
            case CURLE_COULDNT_RESOLVE_PROXY:
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_CONNECT:
            case CURLE_PARTIAL_FILE:
            case CURLE_OPERATION_TIMEDOUT:
            case CURLE_GOT_NOTHING:
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
            case CURLE_HTTP2:
            case CURLE_HTTP2_STREAM:
                return true;
            default:
                return false;
        }
    }

    static std::size_t OnHeader(char* line, std::size_t size, std::size_t count, void* self) {
        auto* transfer = static_cast<CurlTransfer*>(self);
        const std::size_t length = size * count;
        std::string value;
        if (length >= 5 && std::strncmp(line, "HTTP/", 5) == 0) {
            // A new answer (after a redirect or an interim one): forget the last.
            transfer->etag_.clear();
            transfer->lastModified_.clear();
            transfer->rangeStart_ = 0;
            transfer->totalFromRange_ = 0;
            transfer->contentLength_ = 0;
        } else if (HeaderValue(line, length, "Content-Length", value)) {
            transfer->contentLength_ = std::strtoull(value.c_str(), nullptr, 10);
        } else if (HeaderValue(line, length, "ETag", value)) {
            transfer->etag_ = value;
        } else if (HeaderValue(line, length, "Last-Modified", value)) {
            transfer->lastModified_ = value;
        } else if (HeaderValue(line, length, "Content-Range", value)) {
            unsigned long long first = 0, last = 0, total = 0;
            if (std::sscanf(value.c_str(), "bytes %llu-%llu/%llu", &first, &last, &total) == 3) {
                transfer->rangeStart_ = first;
                transfer->totalFromRange_ = total;
            }
        }
        return length;
    }

    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
        auto* transfer = static_cast<CurlTransfer*>(self);
        if (!transfer->bodyStarted_) {
            transfer->bodyStarted_ = true;
            // A body with a Content-Range continues the resource; any other
            // one is the whole resource.
            transfer->base_ = transfer->totalFromRange_ > 0 ? transfer->rangeStart_ : 0;
            if (!transfer->sink_.Begin(transfer->base_, transfer->Validator())) return 0;
            // A resumed download that starts again from zero shows it at once.
            if (transfer->request_.offset > 0 && transfer->base_ == 0 &&
                transfer->progress_ != nullptr && *transfer->progress_ &&
                !(*transfer->progress_)(0, transfer->contentLength_, TRANSFER_DOWNLOADING)) {
                transfer->cancelledInWrite_ = true;
                return 0;
            }
        }
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
        if (*transfer->stopRequested_ && (*transfer->stopRequested_)()) return 1;
        if (transfer->progress_ == nullptr || !*transfer->progress_) return 0;
        const int status = transfer->bodyStarted_ ? TRANSFER_DOWNLOADING : TRANSFER_CONNECTING;
        const uint64_t base = transfer->base_;
        return (*transfer->progress_)(base + static_cast<uint64_t>(now),
                                      total > 0 ? base + static_cast<uint64_t>(total) : 0, status)
                   ? 0
                   : 1;
    }

    transfer::Sink& sink_;
    const TransferProgress* progress_;
    const transfer::AttemptRequest& request_;
    // Where the body stands in the resource: the offset asked for until the
    // answer tells, then the answer's start.
    uint64_t base_;
    bool bodyStarted_ = false;
    bool cancelledInWrite_ = false;
    std::string etag_, lastModified_;
    uint64_t rangeStart_ = 0, totalFromRange_ = 0, contentLength_ = 0;
    // Stall detection: when the byte count last changed.
    bool stalled_ = false;
    curl_off_t lastCount_ = 0;
    std::chrono::steady_clock::time_point lastData_;
    std::chrono::milliseconds stallTimeout_{0};
    const std::function<bool()>* stopRequested_ = nullptr;
};

// Copies a plain local file into sink, reporting progress per chunk.
transfer::AttemptAnswer CopyLocalFile(const std::string& path, transfer::Sink& sink,
                                      const TransferProgress* progress) {
    transfer::AttemptAnswer answer;
    TransferResult& result = answer.result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = transfer::ErrnoText("cannot open", path, errno);
        return answer;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.error = "not a regular file: " + path;
        return answer;
    }
    const uint64_t expected = static_cast<uint64_t>(info.st_size);
    answer.total = expected;
    uint64_t done = 0;
    std::vector<char> buffer(COPY_CHUNK);
    if (!sink.Begin(0, "")) {
        result.error = sink.error();
        ::close(fd);
        return answer;
    }
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = transfer::ErrnoText("cannot read", path, errno);
            ::close(fd);
            return answer;
        }
        if (n == 0) break;
        if (!sink.Write(buffer.data(), static_cast<std::size_t>(n))) {
            result.error = sink.error();
            ::close(fd);
            return answer;
        }
        done += static_cast<uint64_t>(n);
        if (progress != nullptr && *progress &&
            !(*progress)(done, expected, TRANSFER_DOWNLOADING)) {
            result.aborted = true;
            result.error = "cancelled";
            ::close(fd);
            return answer;
        }
    }
    ::close(fd);
    answer.total = done;
    if (progress != nullptr && *progress && !(*progress)(done, done, TRANSFER_END_DOWNLOAD)) {
        result.aborted = true;
        result.error = "cancelled";
        return answer;
    }
    result.ok = true;
    return answer;
}

}  // namespace

namespace transfer {

std::string ErrnoText(const char* what, const std::string& path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

AttemptAnswer Attempt(const std::string& address, Sink& sink, const TransferProgress* progress,
                      const TransferOptions& options, const AttemptRequest& request) {
    if (address.empty()) {
        AttemptAnswer answer;
        answer.result.error = "no address";
        return answer;
    }
    if (!IsUrlAddress(address)) return CopyLocalFile(address, sink, progress);
    return CurlTransfer(sink, progress, request).Run(address, options);
}

bool PauseBeforeRetry(long pauseMs, const TransferOptions& options,
                      const TransferProgress* progress, uint64_t bytesSoFar) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseMs);
    const auto step = std::chrono::milliseconds(std::max(1L, options.pollIntervalMs));
    for (;;) {
        if (options.stopRequested && options.stopRequested()) return false;
        if (progress != nullptr && *progress && !(*progress)(bytesSoFar, 0, TRANSFER_CONNECTING))
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(step, end - now));
    }
}

}  // namespace transfer

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
    transfer::AttemptRequest request;
    request.maxBytes = static_cast<long long>(maxBytes);
    transfer::AttemptAnswer answer = transfer::Attempt(address, sink, nullptr, options, request);
    for (const long pause : options.retryPausesMs) {
        if (answer.result.ok || !answer.retryable) break;
        if (!transfer::PauseBeforeRetry(pause, options, nullptr, 0)) {
            answer.result.aborted = true;
            answer.result.error = "cancelled";
            break;
        }
        answer = transfer::Attempt(address, sink, nullptr, options, request);
    }
    if (!answer.result.ok) text.clear();
    return answer.result;
}

}  // namespace pelmo
