#include "platform/compound_file_reader.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/compound_file_format.h"
#include "platform/compound_file_names.h"

namespace pelmo::platform {

using namespace compound_format;

namespace {

// A directory larger than this is refused rather than loaded (128 MiB).
constexpr std::uint32_t MAX_DIRECTORY_ENTRIES = 1u << 20;
// Storages nested deeper than this are refused.
constexpr std::uint32_t MAX_STORAGE_DEPTH = 128;

struct DirectoryEntry {
    std::u16string name;
    std::uint8_t type = TYPE_UNUSED;
    std::uint32_t left = NOSTREAM;
    std::uint32_t right = NOSTREAM;
    std::uint32_t child = NOSTREAM;
    std::uint32_t start = ENDOFCHAIN;
    std::uint64_t size = 0;
};

void SetError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

}  // namespace

struct CompoundFileData {
    int fd = -1;
    int majorVersion = 3;
    unsigned sectorShift = 9;
    std::uint32_t sectorSize = 512;
    std::uint64_t fileSize = 0;
    std::uint32_t sectorCount = 0;          // sectors after the header, a partial last one included
    std::vector<std::uint32_t> fatSectors;  // where each sector of the allocation table lies
    std::vector<std::uint32_t> miniFatSectors;
    std::vector<std::uint32_t> miniStreamSectors;
    std::uint64_t miniStreamSize = 0;
    std::string miniStreamError;  // set when the mini stream's chain is damaged
    std::vector<DirectoryEntry> entries;

    ~CompoundFileData() {
        if (fd >= 0) ::close(fd);
    }

    std::uint64_t SectorOffset(std::uint32_t sector) const {
        return (static_cast<std::uint64_t>(sector) + 1) << sectorShift;
    }

    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
        auto* out = static_cast<unsigned char*>(buffer);
        while (count > 0) {
            const ssize_t n = ::pread(fd, out, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            out += n;
            offset += static_cast<std::uint64_t>(n);
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // Allocation table entry of `sector`, read through `cache` (one sector).
    bool FatEntry(std::uint32_t sector, std::vector<unsigned char>& cache,
                  std::uint32_t& cacheIndex, std::uint32_t& next) const {
        const std::uint32_t perSector = sectorSize / 4;
        const std::uint32_t index = sector / perSector;
        if (index >= fatSectors.size()) return false;
        if (cacheIndex != index) {
            cache.resize(sectorSize);
            if (!ReadAt(SectorOffset(fatSectors[index]), cache.data(), sectorSize)) return false;
            cacheIndex = index;
        }
        next = Get32(cache.data() + (sector % perSector) * 4);
        return true;
    }

    // Walks a chain of the allocation table from `first` to its end. Fails on
    // sectors outside the file and on loops (a chain longer than the file).
    bool WalkChain(std::uint32_t first, std::vector<std::uint32_t>& out, std::string& error,
                   std::uint64_t limit) const {
        out.clear();
        std::vector<unsigned char> cache;
        std::uint32_t cacheIndex = UINT32_MAX;
        std::uint32_t sector = first;
        while (sector != ENDOFCHAIN) {
            if (sector >= sectorCount) {
                error = "chain points past the end of the file";
                return false;
            }
            if (out.size() >= sectorCount || out.size() >= limit) {
                error = "chain loops or is longer than its content";
                return false;
            }
            out.push_back(sector);
            if (!FatEntry(sector, cache, cacheIndex, sector)) {
                error = "allocation table is unreadable";
                return false;
            }
        }
        return true;
    }

    bool MiniFatEntry(std::uint32_t miniSector, std::uint32_t& next) const {
        const std::uint32_t perSector = sectorSize / 4;
        const std::uint32_t index = miniSector / perSector;
        if (index >= miniFatSectors.size()) return false;
        unsigned char value[4];
        if (!ReadAt(SectorOffset(miniFatSectors[index]) + (miniSector % perSector) * 4, value, 4))
            return false;
        next = Get32(value);
        return true;
    }
};

namespace {

bool LoadHeader(CompoundFileData& f, const unsigned char* h, std::string& error) {
    if (std::memcmp(h, SIGNATURE, sizeof SIGNATURE) != 0) {
        error = "not a compound file (bad signature)";
        return false;
    }
    if (Get16(h + H_BYTE_ORDER) != 0xFFFE) {
        error = "unsupported byte order";
        return false;
    }
    f.majorVersion = Get16(h + H_MAJOR_VERSION);
    const unsigned shift = Get16(h + H_SECTOR_SHIFT);
    if (!((f.majorVersion == 3 && shift == 9) || (f.majorVersion == 4 && shift == 12))) {
        error = "unsupported version or sector size";
        return false;
    }
    if (Get16(h + H_MINI_SECTOR_SHIFT) != 6 ||
        Get32(h + H_MINI_STREAM_CUTOFF) != MINI_STREAM_CUTOFF) {
        error = "unsupported mini stream layout";
        return false;
    }
    f.sectorShift = shift;
    f.sectorSize = 1u << shift;
    if (f.fileSize < f.sectorSize) {
        error = "file is shorter than its header";
        return false;
    }
    const std::uint64_t sectors = (f.fileSize - f.sectorSize + f.sectorSize - 1) >> shift;
    f.sectorCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, MAXREGSECT + 1ull));
    return true;
}

bool LoadFatSectors(CompoundFileData& f, const unsigned char* h, std::string& error) {
    const std::uint32_t fatCount = Get32(h + H_FAT_SECTORS);
    if (fatCount > f.sectorCount) {
        error = "allocation table is larger than the file";
        return false;
    }
    f.fatSectors.reserve(fatCount);
    for (std::size_t i = 0; i < HEADER_DIFAT_ENTRIES && f.fatSectors.size() < fatCount; ++i)
        f.fatSectors.push_back(Get32(h + H_DIFAT + 4 * i));
    std::uint32_t difat = Get32(h + H_FIRST_DIFAT_SECTOR);
    const std::uint32_t perSector = f.sectorSize / 4 - 1;
    std::vector<unsigned char> buffer(f.sectorSize);
    std::uint32_t steps = 0;
    while (f.fatSectors.size() < fatCount) {
        if (difat >= f.sectorCount || ++steps > f.sectorCount) {
            error = "DIFAT chain is broken";
            return false;
        }
        if (!f.ReadAt(f.SectorOffset(difat), buffer.data(), f.sectorSize)) {
            error = "DIFAT sector is unreadable";
            return false;
        }
        for (std::uint32_t i = 0; i < perSector && f.fatSectors.size() < fatCount; ++i)
            f.fatSectors.push_back(Get32(buffer.data() + 4 * i));
        difat = Get32(buffer.data() + 4 * perSector);
    }
    for (std::uint32_t s : f.fatSectors) {
        if (s >= f.sectorCount) {
            error = "allocation table sector lies past the end of the file";
            return false;
        }
    }
    // A table shorter than the file is tolerated: lookups beyond it fail
    // where they happen.
    return true;
}

bool LoadDirectory(CompoundFileData& f, const unsigned char* h, std::string& error) {
    std::vector<std::uint32_t> sectors;
    const std::uint64_t limit =
        (static_cast<std::uint64_t>(MAX_DIRECTORY_ENTRIES) * DIRECTORY_ENTRY_SIZE) >> f.sectorShift;
    if (!f.WalkChain(Get32(h + H_FIRST_DIRECTORY_SECTOR), sectors, error, limit)) {
        error = "directory: " + error;
        return false;
    }
    if (sectors.empty()) {
        error = "directory is empty";
        return false;
    }
    const std::uint32_t perSector = f.sectorSize / DIRECTORY_ENTRY_SIZE;
    std::vector<unsigned char> buffer(f.sectorSize);
    f.entries.reserve(sectors.size() * perSector);
    for (std::uint32_t sector : sectors) {
        if (!f.ReadAt(f.SectorOffset(sector), buffer.data(), f.sectorSize)) {
            error = "directory sector is unreadable";
            return false;
        }
        for (std::uint32_t i = 0; i < perSector; ++i) {
            const unsigned char* e = buffer.data() + i * DIRECTORY_ENTRY_SIZE;
            DirectoryEntry entry;
            entry.type = e[E_TYPE];
            if (entry.type != TYPE_UNUSED) {
                const std::size_t units = std::min<std::size_t>(Get16(e + E_NAME_LENGTH) / 2, 32);
                for (std::size_t k = 0; k < units; ++k) {
                    const char16_t unit = Get16(e + E_NAME + 2 * k);
                    if (unit == 0) break;
                    entry.name.push_back(unit);
                }
                entry.left = Get32(e + E_LEFT);
                entry.right = Get32(e + E_RIGHT);
                entry.child = Get32(e + E_CHILD);
                entry.start = Get32(e + E_START_SECTOR);
                entry.size = Get64(e + E_SIZE);
                // Version 3 files carry only the low 32 bits of a size; some
                // writers leave garbage in the high half.
                if (f.majorVersion == 3) entry.size &= 0xFFFFFFFFu;
            }
            f.entries.push_back(std::move(entry));
        }
    }
    if (f.entries[0].type != TYPE_ROOT) {
        error = "directory has no root entry";
        return false;
    }
    return true;
}

// Checks the whole tree once: every entry is reached at most once, every link
// lies inside the directory and storages are not nested too deeply. After
// this, listing and opening cannot loop.
bool CheckTree(const CompoundFileData& f, std::string& error) {
    const std::size_t count = f.entries.size();
    std::vector<bool> seen(count, false);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pending;  // entry, storage depth
    seen[0] = true;
    if (f.entries[0].child != NOSTREAM) pending.emplace_back(f.entries[0].child, 1);
    while (!pending.empty()) {
        const auto [id, depth] = pending.back();
        pending.pop_back();
        if (id >= count) {
            error = "directory link points past the directory";
            return false;
        }
        if (seen[id]) {
            error = "directory tree has a cycle or a shared entry";
            return false;
        }
        seen[id] = true;
        const DirectoryEntry& e = f.entries[id];
        if (e.type == TYPE_UNUSED || e.type == TYPE_ROOT) {
            error = "directory tree links an unused or second root entry";
            return false;
        }
        if (e.left != NOSTREAM) pending.emplace_back(e.left, depth);
        if (e.right != NOSTREAM) pending.emplace_back(e.right, depth);
        if (e.type == TYPE_STORAGE && e.child != NOSTREAM) {
            if (depth + 1 > MAX_STORAGE_DEPTH) {
                error = "storages are nested too deeply";
                return false;
            }
            pending.emplace_back(e.child, depth + 1);
        }
    }
    return true;
}

void LoadMiniStream(CompoundFileData& f, const unsigned char* h) {
    std::string error;
    const DirectoryEntry& root = f.entries[0];
    f.miniStreamSize = root.size;
    const std::uint64_t needed = (root.size + f.sectorSize - 1) >> f.sectorShift;
    if (root.size > 0 && (!f.WalkChain(root.start, f.miniStreamSectors, error, UINT64_MAX) ||
                          f.miniStreamSectors.size() < needed)) {
        f.miniStreamError = "mini stream: " + (error.empty() ? "chain is too short" : error);
        f.miniStreamSectors.clear();
        f.miniStreamSize = 0;
    }
    const std::uint32_t firstMiniFat = Get32(h + H_FIRST_MINI_FAT_SECTOR);
    if (firstMiniFat != ENDOFCHAIN && firstMiniFat != FREESECT &&
        !f.WalkChain(firstMiniFat, f.miniFatSectors, error, UINT64_MAX)) {
        f.miniStreamError = "mini allocation table: " + error;
        f.miniFatSectors.clear();
    }
}

std::vector<CompoundElement> ListTree(const CompoundFileData& f, std::uint32_t top) {
    std::vector<CompoundElement> out;
    std::vector<std::uint32_t> path;
    std::uint32_t id = top;
    // In-order walk; CheckTree has ruled out cycles and bad links.
    while (id != NOSTREAM || !path.empty()) {
        while (id != NOSTREAM) {
            path.push_back(id);
            id = f.entries[id].left;
        }
        id = path.back();
        path.pop_back();
        const DirectoryEntry& e = f.entries[id];
        CompoundElement element;
        element.name = Utf16ToUtf8(e.name);
        element.rawType = e.type;
        element.entry = id;
        if (e.type == TYPE_STORAGE) {
            element.kind = CompoundElementKind::Storage;
        } else if (e.type == TYPE_STREAM) {
            element.kind = CompoundElementKind::Stream;
            element.size = e.size;
        }
        out.push_back(std::move(element));
        id = e.right;
    }
    return out;
}

}  // namespace

// ---- CompoundFile

CompoundFile::CompoundFile(std::shared_ptr<const CompoundFileData> data) : data_(std::move(data)) {}

std::unique_ptr<CompoundFile> CompoundFile::Open(const std::string& path, std::string* error) {
    auto f = std::make_shared<CompoundFileData>();
    f->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f->fd < 0) {
        SetError(error, path + ": " + std::strerror(errno));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(f->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetError(error, path + ": not a regular file");
        return nullptr;
    }
    if (::flock(f->fd, LOCK_EX | LOCK_NB) != 0) {
        SetError(error, path + ": in use by another process");
        return nullptr;
    }
    f->fileSize = static_cast<std::uint64_t>(st.st_size);
    unsigned char header[HEADER_SIZE];
    std::string message;
    if (f->fileSize < HEADER_SIZE || !f->ReadAt(0, header, HEADER_SIZE)) {
        message = "not a compound file (too short)";
    } else if (LoadHeader(*f, header, message) && LoadFatSectors(*f, header, message) &&
               LoadDirectory(*f, header, message) && CheckTree(*f, message)) {
        LoadMiniStream(*f, header);
        return std::make_unique<CompoundFile>(std::move(f));
    }
    SetError(error, path + ": " + message);
    return nullptr;
}

CompoundStorage CompoundFile::Root() const { return CompoundStorage(data_, 0); }
int CompoundFile::MajorVersion() const { return data_->majorVersion; }
std::size_t CompoundFile::SectorSize() const { return data_->sectorSize; }

// ---- CompoundStorage

CompoundStorage::CompoundStorage(std::shared_ptr<const CompoundFileData> file, std::uint32_t entry)
    : file_(std::move(file)), entry_(entry) {}

std::vector<CompoundElement> CompoundStorage::Children() const {
    return ListTree(*file_, file_->entries[entry_].child);
}

std::optional<CompoundElement> CompoundStorage::Find(std::string_view name) const {
    std::u16string wanted;
    if (!Utf8ToUtf16(name, wanted)) return std::nullopt;
    for (CompoundElement& element : Children()) {
        if (CompareElementNames(file_->entries[element.entry].name, wanted) == 0)
            return std::move(element);
    }
    return std::nullopt;
}

std::optional<CompoundStorage> CompoundStorage::OpenStorage(const CompoundElement& element,
                                                            std::string* error) const {
    if (element.entry >= file_->entries.size() ||
        file_->entries[element.entry].type != TYPE_STORAGE) {
        SetError(error, element.name + ": not a storage");
        return std::nullopt;
    }
    return CompoundStorage(file_, element.entry);
}

std::unique_ptr<CompoundStream> CompoundStorage::OpenStream(const CompoundElement& element,
                                                            std::string* error) const {
    const CompoundFileData& f = *file_;
    if (element.entry >= f.entries.size() || f.entries[element.entry].type != TYPE_STREAM) {
        SetError(error, element.name + ": not a stream");
        return nullptr;
    }
    const DirectoryEntry& e = f.entries[element.entry];
    if (e.size == 0)
        return std::make_unique<CompoundStream>(file_, 0, std::vector<std::uint32_t>{}, 0);
    if (e.size < MINI_STREAM_CUTOFF) {
        if (!f.miniStreamError.empty()) {
            SetError(error, element.name + ": " + f.miniStreamError);
            return nullptr;
        }
        // At most 64 mini sectors: walk the whole chain now.
        const std::uint64_t needed = (e.size + MINI_SECTOR_SIZE - 1) / MINI_SECTOR_SIZE;
        const std::uint64_t miniCount = f.miniStreamSize / MINI_SECTOR_SIZE;
        // A chain longer than the stream is tolerated as long as it ends; one
        // with more links than the mini stream has sectors loops.
        std::vector<std::uint32_t> chain;
        std::uint32_t sector = e.start;
        for (std::uint64_t steps = 0; sector != ENDOFCHAIN; ++steps) {
            if (sector >= miniCount) {
                SetError(error, element.name + ": mini chain points past the mini stream");
                return nullptr;
            }
            if (steps >= miniCount) {
                SetError(error, element.name + ": mini chain loops");
                return nullptr;
            }
            if (chain.size() < needed) chain.push_back(sector);
            if (!f.MiniFatEntry(sector, sector)) {
                SetError(error, element.name + ": mini allocation table is unreadable");
                return nullptr;
            }
        }
        if (chain.size() < needed) {
            SetError(error, element.name + ": stream is longer than its mini chain");
            return nullptr;
        }
        return std::make_unique<CompoundStream>(file_, e.size, std::move(chain), 0);
    }
    if (e.size > static_cast<std::uint64_t>(f.sectorCount) << f.sectorShift) {
        SetError(error, element.name + ": stream is larger than the file");
        return nullptr;
    }
    if (e.start >= f.sectorCount) {
        SetError(error, element.name + ": stream starts past the end of the file");
        return nullptr;
    }
    return std::make_unique<CompoundStream>(file_, e.size, std::vector<std::uint32_t>{}, e.start);
}

// ---- CompoundStream

CompoundStream::CompoundStream(std::shared_ptr<const CompoundFileData> file, std::uint64_t size,
                               std::vector<std::uint32_t> miniSectors, std::uint32_t firstSector)
    : file_(std::move(file)),
      size_(size),
      miniSectors_(std::move(miniSectors)),
      mini_(size < MINI_STREAM_CUTOFF),
      sector_(firstSector) {}

CompoundStream::~CompoundStream() = default;

std::ptrdiff_t CompoundStream::Fail(std::string message) {
    failed_ = true;
    error_ = std::move(message);
    return -1;
}

bool CompoundStream::NextSector(std::uint32_t sector, std::uint32_t& next) {
    return file_->FatEntry(sector, fatCache_, fatCacheIndex_, next);
}

bool CompoundStream::ReadMini(unsigned char* out, std::size_t count) {
    const CompoundFileData& f = *file_;
    while (count > 0) {
        const std::uint64_t index = position_ / MINI_SECTOR_SIZE;
        const std::size_t within = static_cast<std::size_t>(position_ % MINI_SECTOR_SIZE);
        const std::size_t take = std::min(count, MINI_SECTOR_SIZE - within);
        // Position of this mini sector inside the mini stream, then in the file.
        const std::uint64_t inMini =
            static_cast<std::uint64_t>(miniSectors_[index]) * MINI_SECTOR_SIZE + within;
        const std::uint64_t hostIndex = inMini >> f.sectorShift;
        if (hostIndex >= f.miniStreamSectors.size()) return false;
        const std::uint64_t offset =
            f.SectorOffset(f.miniStreamSectors[hostIndex]) + (inMini & (f.sectorSize - 1));
        if (!f.ReadAt(offset, out, take)) return false;
        out += take;
        count -= take;
        position_ += take;
    }
    return true;
}

bool CompoundStream::AdvanceTo(std::uint64_t index) {
    while (sectorIndex_ < index) {
        std::uint32_t next;
        if (!NextSector(sector_, next) || next >= file_->sectorCount) return false;
        sector_ = next;
        ++sectorIndex_;
    }
    return true;
}

bool CompoundStream::ReadRegular(unsigned char* out, std::size_t count) {
    const CompoundFileData& f = *file_;
    while (count > 0) {
        if (!AdvanceTo(position_ >> f.sectorShift)) return false;
        const std::size_t within = static_cast<std::size_t>(position_ & (f.sectorSize - 1));
        const std::uint32_t first = sector_;
        std::size_t run = std::min<std::size_t>(count, f.sectorSize - within);
        // Extend the read over sectors that follow each other in the file.
        while (run < count) {
            std::uint32_t next;
            if (!NextSector(sector_, next)) return false;
            if (next != sector_ + 1 || next >= f.sectorCount) break;
            sector_ = next;
            ++sectorIndex_;
            run += std::min<std::size_t>(count - run, f.sectorSize);
        }
        if (!f.ReadAt(f.SectorOffset(first) + within, out, run)) return false;
        out += run;
        count -= run;
        position_ += run;
    }
    return true;
}

bool CompoundStream::CheckChainEnd() {
    const CompoundFileData& f = *file_;
    if (mini_) return true;  // walked whole at open
    // The chain must end after the stream's last sector. A longer chain is
    // tolerated as long as it ends; one that loops is not.
    std::uint32_t sector = sector_;
    for (std::uint64_t steps = 0; steps <= f.sectorCount; ++steps) {
        std::uint32_t next;
        if (!NextSector(sector, next)) return false;
        if (next == ENDOFCHAIN) return true;
        if (next >= f.sectorCount) return false;
        sector = next;
    }
    return false;
}

std::ptrdiff_t CompoundStream::Read(void* buffer, std::size_t capacity) {
    if (failed_) return -1;
    if (position_ >= size_ || capacity == 0) return 0;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, size_ - position_));
    auto* out = static_cast<unsigned char*>(buffer);
    if (!(mini_ ? ReadMini(out, count) : ReadRegular(out, count)))
        return Fail("stream's sector chain is damaged");
    if (position_ == size_ && !CheckChainEnd()) return Fail("stream's sector chain loops");
    return static_cast<std::ptrdiff_t>(count);
}

}  // namespace pelmo::platform
