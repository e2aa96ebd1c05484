// Fuzz target for the compound-file reader: opens the input, walks every
// storage and reads every stream to its end.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/compound_file_reader.h"

using namespace pelmo::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader opens a path: give it an in-memory file.
    static const int fd = memfd_create("compound", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

    auto file = CompoundFile::Open(path);
    if (!file) return 0;
    std::vector<CompoundStorage> pending = {file->Root()};
    static char buffer[10240];
    while (!pending.empty()) {
        CompoundStorage storage = pending.back();
        pending.pop_back();
        for (const auto& element : storage.Children()) {
            if (element.kind == CompoundElementKind::Storage) {
                if (auto child = storage.OpenStorage(element)) pending.push_back(*child);
            } else if (element.kind == CompoundElementKind::Stream) {
                if (auto stream = storage.OpenStream(element)) {
                    std::uint64_t total = 0;
                    std::ptrdiff_t n;
                    while ((n = stream->Read(buffer, sizeof buffer)) > 0) total += n;
                    if (total > element.size) __builtin_trap();
                }
            }
        }
    }
    return 0;
}
