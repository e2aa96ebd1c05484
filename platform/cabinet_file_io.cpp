#include "platform/cabinet_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace pelmo::platform {

int TranslateCabinetOpenFlags(int flags) {
    int result = O_CLOEXEC;
    switch (flags & 0x3) {
        case kCabinetOpenWriteOnly:
            result |= O_WRONLY;
            break;
        case kCabinetOpenReadWrite:
            result |= O_RDWR;
            break;
        default:
            result |= O_RDONLY;
            break;
    }
    if (flags & kCabinetOpenAppend) result |= O_APPEND;
    if (flags & kCabinetOpenCreate) result |= O_CREAT;
    if (flags & kCabinetOpenTruncate) result |= O_TRUNC;
    if (flags & kCabinetOpenExclusive) result |= O_EXCL;
    return result;
}

unsigned TranslateCabinetOpenMode(int mode) {
    unsigned result = 0;
    if (mode & kCabinetModeRead) result |= S_IRUSR | S_IRGRP | S_IROTH;
    if (mode & kCabinetModeWrite) result |= S_IWUSR | S_IWGRP | S_IWOTH;
    return result;
}

int CabinetFileOpen(const char* path, int flags, int mode) {
    if (path == nullptr) return -1;
    int fd;
    do {
        fd = ::open(path, TranslateCabinetOpenFlags(flags), TranslateCabinetOpenMode(mode));
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -1 : fd;
}

int CabinetFileRead(int handle, void* buffer, uint32_t count) {
    if (count > INT_MAX) count = INT_MAX;
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(handle, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int>(done);
}

int CabinetFileWrite(int handle, const void* buffer, uint32_t count) {
    if (count > INT_MAX) return -1;
    const auto* in = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(handle, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int>(done);
}

void PreallocateFile(int handle, uint64_t size) {
    if (size == 0 || size > static_cast<uint64_t>(INT64_MAX)) return;
    (void)::fallocate(handle, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
}

int CabinetFileClose(int handle) { return ::close(handle) == 0 ? 0 : -1; }

long CabinetFileSeek(int handle, long offset, int origin) {
    int whence;
    switch (origin) {
        case 0:
            whence = SEEK_SET;
            break;
        case 1:
            whence = SEEK_CUR;
            break;
        case 2:
            whence = SEEK_END;
            break;
        default:
            return -1;
    }
    const off_t position = ::lseek(handle, static_cast<off_t>(offset), whence);
    return position < 0 ? -1 : static_cast<long>(position);
}

}  // namespace pelmo::platform
