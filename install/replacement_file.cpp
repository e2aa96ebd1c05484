#include "install/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace pelmo {

namespace {

std::string Describe(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

bool ReplacementFile::Create(const std::string& target, mode_t mode, std::string* error) {
    Discard();
    target_ = target;
    const auto slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = folder + "." + name.substr(0, 200) + ".pelmo-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    if (error) *error = Describe(target, errno);
    temp_.clear();
    return false;
}

bool ReplacementFile::Write(const void* data, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(fd_, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReplacementFile::Flush(bool durable, std::string* error) {
    if (fd_ < 0) return false;
    if ((durable && ::fsync(fd_) != 0) || ::close(fd_) != 0) {
        fd_ = -1;
        if (error) *error = Describe(target_, errno);
        Discard();
        return false;
    }
    fd_ = -1;
    return true;
}

bool ReplacementFile::Commit(bool durable, std::string* error) {
    if (!Flush(durable, error)) return false;
    if (!MoveIntoPlace(temp_, target_, error)) {
        Discard();
        return false;
    }
    temp_.clear();
    return true;
}

std::string ReplacementFile::Stage(bool durable, std::string* error) {
    if (!Flush(durable, error)) return {};
    return std::exchange(temp_, std::string());
}

bool MoveIntoPlace(const std::string& temporary, const std::string& target, std::string* error) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::error_code ignored;
        std::filesystem::remove_all(target, ignored);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        if (error) *error = Describe(target, errno);
        return false;
    }
    return true;
}

void ReplacementFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

}  // namespace pelmo
