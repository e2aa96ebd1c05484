#include "install/file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace pelmo {

int DeletePathSilently(const std::string& path) {
    std::error_code error;
    const auto removed = std::filesystem::remove_all(path, error);
    return !error && removed != static_cast<std::uintmax_t>(-1) && removed > 0 ? 1 : 0;
}

int FileExists(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat st {};
    const bool isFile = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return isFile ? 1 : 0;
}

std::string WithTrailingSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

}  // namespace pelmo
