#include "trust/file_chunks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace pelmo::trust {

namespace {
constexpr std::size_t CHUNK_BYTES = std::size_t{1} << 18;
}

bool ForEachFileChunk(
    const std::string& path,
    const std::function<void(const unsigned char* data, std::size_t size)>& consume,
    std::string* reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (reason != nullptr) *reason = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<unsigned char> buffer(CHUNK_BYTES);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (reason != nullptr) *reason = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        consume(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace pelmo::trust
