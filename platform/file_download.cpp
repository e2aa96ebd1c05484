// FetchToFile: a download into a partial file that survives broken
// connections and interrupted runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "platform/transfer_attempt.h"
#include "platform/transport.h"

namespace pelmo {
namespace {

// The validator noted for address in the sidecar at infoPath; "" when there
// is none or it belongs to another address.
std::string ReadNotedValidator(const std::string& infoPath, const std::string& address) {
    std::ifstream info(infoPath);
    std::string notedAddress, validator;
    if (!std::getline(info, notedAddress) || !std::getline(info, validator)) return "";
    // It goes into a request header: nothing that could end the line.
    for (const char c : validator) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "";
    }
    return notedAddress == address ? validator : "";
}

// The partial file being written, with its sidecar kept in step.
class PartialFile final : public transfer::Sink {
  public:
    PartialFile(int fd, std::string path, std::string infoPath, std::string address,
                std::string validator, uint64_t size, const TransferOptions& options)
        : fd_(fd),
          path_(std::move(path)),
          infoPath_(std::move(infoPath)),
          address_(std::move(address)),
          validator_(std::move(validator)),
          size_(size),
          options_(options) {}

    uint64_t size() const { return size_; }
    const std::string& validator() const { return validator_; }

    bool Begin(uint64_t start, const std::string& validator) override {
        if (start != size_) {
            if (start != 0) {
                error_ = "the server resumed at byte " + std::to_string(start) + ", not " +
                         std::to_string(size_);
                Discard();  // not to be resumed again
                return false;
            }
            // The whole resource again: what is on disk no longer counts.
            if (::ftruncate(fd_, 0) != 0) {
                error_ = transfer::ErrnoText("cannot write", path_, errno);
                return false;
            }
            size_ = 0;
            if (options_.dataRestarted) options_.dataRestarted();
        }
        if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0) {
            error_ = transfer::ErrnoText("cannot write", path_, errno);
            return false;
        }
        if (validator != validator_ || size_ == 0) {
            validator_ = validator;
            if (!NoteValidator()) return false;
        }
        return true;
    }

    bool Write(const char* data, std::size_t size) override {
        if (options_.dataObserver) options_.dataObserver(data, size);
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                error_ = transfer::ErrnoText("cannot write", path_, errno);
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            size_ += static_cast<uint64_t>(n);
        }
        return true;
    }

    // Hands the bytes already on disk to the observer. False when they cannot
    // be read: the file then starts from zero.
    bool ReplayToObserver() {
        if (!options_.dataObserver || size_ == 0) return true;
        std::vector<char> buffer(1 << 20);
        for (uint64_t offset = 0; offset < size_;) {
            const ssize_t n = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                return Discard();
            }
            options_.dataObserver(buffer.data(), static_cast<std::size_t>(n));
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    // Empties the file; the next attempt asks for the whole resource.
    bool Discard() {
        if (size_ > 0 && options_.dataRestarted) options_.dataRestarted();
        size_ = 0;
        validator_.clear();
        return ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
    }

  private:
    // The sidecar is replaced whole, so that a crash leaves the old or the new.
    bool NoteValidator() {
        const std::string temporary = infoPath_ + ".new";
        {
            std::ofstream info(temporary, std::ios::trunc);
            info << address_ << '\n' << validator_ << '\n';
            if (!info.flush()) {
                error_ = "cannot write " + temporary;
                return false;
            }
        }
        if (::rename(temporary.c_str(), infoPath_.c_str()) != 0) {
            error_ = transfer::ErrnoText("cannot write", infoPath_, errno);
            return false;
        }
        return true;
    }

    int fd_;
    std::string path_, infoPath_, address_, validator_;
    uint64_t size_;
    const TransferOptions& options_;
};

}  // namespace

std::string PartialFilePath(const std::string& targetPath) { return targetPath + ".part"; }
std::string PartialInfoPath(const std::string& targetPath) { return targetPath + ".part.info"; }

TransferResult FetchToFile(const std::string& address, const std::string& targetPath,
                           const TransferProgress& progress, const TransferOptions& options) {
    TransferResult result;
    const std::string partial = PartialFilePath(targetPath);
    const std::string info = PartialInfoPath(targetPath);
    const int fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        result.error = transfer::ErrnoText("cannot create", partial, errno);
        if (fd >= 0) ::close(fd);
        return result;
    }
    PartialFile sink(fd, partial, info, address, ReadNotedValidator(info, address),
                     static_cast<uint64_t>(status.st_size), options);
    // Bytes without a validator for this address cannot be resumed.
    if (sink.validator().empty() ? !sink.Discard() : !sink.ReplayToObserver()) {
        result.error = transfer::ErrnoText("cannot write", partial, errno);
    }

    transfer::AttemptAnswer answer;
    answer.result = result;
    std::size_t retries = 0;
    while (result.error.empty()) {
        transfer::AttemptRequest request;
        if (!sink.validator().empty() && sink.size() > 0) {
            request.offset = sink.size();
            request.validator = sink.validator();
        }
        answer = transfer::Attempt(address, sink, &progress, options, request);
        if (answer.result.ok || answer.result.aborted) break;
        if (answer.rangeRefused) {  // the resource is shorter now: start again at once
            if (!sink.Discard()) break;
            continue;
        }
        if (!answer.retryable || retries == options.retryPausesMs.size()) break;
        if (!transfer::PauseBeforeRetry(options.retryPausesMs[retries++], options, &progress,
                                        sink.size())) {
            answer.result.aborted = true;
            answer.result.error = "cancelled";
            break;
        }
    }
    result = answer.result;

    if (result.ok && answer.total > 0 && sink.size() != answer.total) {
        result.ok = false;
        result.error = "received " + std::to_string(sink.size()) + " of " +
                       std::to_string(answer.total) + " bytes";
    }
    if (::close(fd) != 0 && result.ok) {
        result.ok = false;
        result.error = transfer::ErrnoText("cannot write", partial, errno);
    }
    if (result.ok && ::rename(partial.c_str(), targetPath.c_str()) != 0) {
        result.ok = false;
        result.error = transfer::ErrnoText("cannot replace", targetPath, errno);
    }
    // What cannot be resumed is not kept.
    if (result.ok || sink.size() == 0 || sink.validator().empty()) {
        ::unlink(partial.c_str());
        ::unlink(info.c_str());
    }
    return result;
}

}  // namespace pelmo
