#include "trust/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelmo::trust {
namespace {

bool Fail(std::string* reason, const std::string& what, const std::string& path, int error) {
    if (reason != nullptr) *reason = what + " " + path + ": " + std::strerror(error);
    return false;
}

}  // namespace

bool ReadTextFile(const std::string& path, std::size_t maxBytes, std::string& text,
                  std::string* reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(reason, "cannot open", path, errno);
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return Fail(reason, "cannot read", path, error);
        }
        if (n == 0) break;
        if (static_cast<std::size_t>(n) > maxBytes - text.size()) {
            ::close(fd);
            if (reason != nullptr) {
                *reason = path + " is larger than " + std::to_string(maxBytes) + " bytes";
            }
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool WriteTextFile(const std::string& path, std::string_view text, mode_t mode, bool replace,
                   std::string* reason) {
    std::string temporary = path + ".tmpXXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return Fail(reason, "cannot create", temporary, errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, mode & ~mask) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    int error = errno;
    if (ok && ::fsync(fd) != 0) ok = false, error = errno;
    if (::close(fd) != 0 && ok) ok = false, error = errno;
    if (!ok) {
        ::unlink(temporary.c_str());
        return Fail(reason, "cannot write", temporary, error);
    }
    // link() refuses an existing target: the check and the write are one step.
    const int placed = replace ? ::rename(temporary.c_str(), path.c_str())
                               : ::link(temporary.c_str(), path.c_str());
    error = errno;
    if (!replace || placed != 0) ::unlink(temporary.c_str());
    if (placed != 0) return Fail(reason, replace ? "cannot replace" : "cannot create", path, error);
    return true;
}

}  // namespace pelmo::trust
