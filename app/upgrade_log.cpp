#include "app/upgrade_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pelmo {

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string UpgradeLogPath() {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        const passwd* user = home == nullptr || *home == '\0' ? ::getpwuid(::geteuid()) : nullptr;
        base = std::string(user != nullptr   ? user->pw_dir
                           : home != nullptr ? home
                                             : "") +
               "/.local/state";
    }
    return base + "/pelmo/upgrade.log";
}

void AppendUpgradeLog(const std::string& path, const std::string& text, std::size_t limit) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    struct stat info {};
    const bool exists = ::lstat(path.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) return;
    const std::size_t size = exists ? static_cast<std::size_t>(info.st_size) : 0;
    if (size + text.size() <= limit) {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return;
        WriteAll(fd, text);
        ::close(fd);
        return;
    }
    // Too long: keep the newest whole lines that fit with the new text.
    std::ifstream in(path, std::ios::binary);
    std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string kept = text.size() >= limit ? std::string() : old;
    const std::size_t room = text.size() >= limit ? 0 : limit - text.size();
    if (kept.size() > room) {
        const std::size_t cut = kept.find('\n', kept.size() - room);
        kept = cut == std::string::npos ? std::string() : kept.substr(cut + 1);
    }
    kept += text.size() > limit ? text.substr(text.size() - limit) : text;
    const std::string temporary = path + ".new";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    const bool written = WriteAll(fd, kept);
    ::close(fd);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) ::unlink(temporary.c_str());
}

}  // namespace pelmo
