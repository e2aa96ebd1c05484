#include "platform/named_object.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pelmo::platform {

namespace {

bool IsPrivateFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0077) == 0;
}

// A name must stay a single file name inside the folder.
bool IsValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string PathOf(const std::string& name) {
    if (!IsValidName(name)) return {};
    std::string folder = NamedObjectFolder();
    if (folder.empty()) return {};
    return folder + "/" + name;
}

}  // namespace

std::string NamedObjectFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return runtime;
    std::string folder = "/tmp/pelmo-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsPrivateFolder(folder) ? folder : std::string();
}

NamedObject::NamedObject(NamedObject&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

NamedObject& NamedObject::operator=(NamedObject&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

NamedObject::Status NamedObject::Create(const std::string& name, std::string* failure) {
    Close();
    const std::string path = PathOf(name);
    if (path.empty()) {
        if (failure != nullptr) *failure = "no private folder for " + name;
        return FAILED;
    }
    const auto failed = [&](int error) {
        if (failure != nullptr) *failure = path + ": " + std::strerror(error);
        return FAILED;
    };
    // The file itself stays in place for ever: removing it would let a second
    // creator lock a new file while the first still holds the old one.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return failed(errno);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? EXISTS : failed(error);
    }
    fd_ = fd;
    return CREATED;
}

bool NamedObject::WriteContent(const void* data, size_t size) {
    if (fd_ < 0) return false;
    if (ftruncate(fd_, 0) != 0) return false;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void NamedObject::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool NamedObject::Exists(const std::string& name) {
    const std::string path = PathOf(name);
    if (path.empty()) return false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool held = false;
    // Any holder, shared or exclusive, refuses an exclusive lock; a lock
    // obtained is given back at once.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
    } else {
        flock(fd, LOCK_UN);
    }
    close(fd);
    return held;
}

}  // namespace pelmo::platform
