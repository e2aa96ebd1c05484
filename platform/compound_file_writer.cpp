#include "platform/compound_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

#include "platform/compound_file_format.h"
#include "platform/compound_file_names.h"

namespace pelmo::platform {

using namespace compound_format;

namespace {

constexpr std::uint64_t MAX_STREAM_SIZE = 0x80000000ull;  // version 3 limit

void SetError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

std::uint32_t SectorsFor(std::uint64_t bytes, std::uint64_t unit) {
    return static_cast<std::uint32_t>((bytes + unit - 1) / unit);
}

// Buffered output to a file descriptor that remembers the first failure.
class Output {
  public:
    Output(int fd, std::uint32_t sectorSize) : fd_(fd), sectorSize_(sectorSize) {
        buffer_.reserve(1 << 20);
    }
    void Put(const void* data, std::size_t count) {
        const auto* p = static_cast<const unsigned char*>(data);
        if (buffer_.size() + count > buffer_.capacity()) Flush();
        if (count >= buffer_.capacity()) {
            WriteAll(p, count);
        } else {
            buffer_.insert(buffer_.end(), p, p + count);
        }
        written_ += count;
    }
    void Zeros(std::size_t count) {
        static const unsigned char zeros[4096] = {};
        while (count > 0) {
            const std::size_t n = std::min<std::size_t>(count, sizeof zeros);
            Put(zeros, n);
            count -= n;
        }
    }
    void PadToSector() { Zeros((sectorSize_ - written_ % sectorSize_) % sectorSize_); }
    bool Flush() {
        if (!buffer_.empty()) WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok_;
    }
    bool ok() const { return ok_; }
    std::uint64_t written() const { return written_; }

  private:
    void WriteAll(const unsigned char* p, std::size_t count) {
        while (ok_ && count > 0) {
            const ssize_t n = ::write(fd_, p, count);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok_ = false;
                return;
            }
            p += n;
            count -= static_cast<std::size_t>(n);
        }
    }
    int fd_;
    std::uint32_t sectorSize_;
    std::vector<unsigned char> buffer_;
    std::uint64_t written_ = 0;
    bool ok_ = true;
};

}  // namespace

struct CompoundFileWriter::Node {
    std::u16string name;
    bool storage = true;
    std::vector<std::unique_ptr<Node>> children;
    // Streams:
    std::string content;
    std::string sourceFile;
    bool fromFile = false;
    std::uint64_t size = 0;
    // Assigned while writing:
    std::uint32_t id = 0;
    std::uint32_t left = NOSTREAM, right = NOSTREAM, child = NOSTREAM;
    std::uint8_t color = COLOR_BLACK;
    std::uint32_t start = ENDOFCHAIN;
};

namespace {

using Node = CompoundFileWriter::Node;

bool ValidName(std::string_view name, std::u16string& out, std::string* error) {
    if (!Utf8ToUtf16(name, out)) {
        SetError(error, std::string(name) + ": not valid UTF-8");
        return false;
    }
    if (out.empty() || out.size() > COMPOUND_NAME_MAX_UNITS) {
        SetError(error, std::string(name) + ": element names hold 1 to 31 UTF-16 units");
        return false;
    }
    for (char16_t c : out) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!') {
            SetError(error, std::string(name) + ": element names cannot hold / \\ : or !");
            return false;
        }
    }
    return true;
}

Node* FindChild(Node& parent, const std::u16string& name) {
    for (auto& child : parent.children)
        if (CompareElementNames(child->name, name) == 0) return child.get();
    return nullptr;
}

// Builds a balanced tree over `sorted[lo, hi)`; nodes on the deepest level
// of an imperfect tree are red, all others black, which keeps every path's
// count of black nodes equal.
std::uint32_t BuildTree(std::vector<Node*>& sorted, std::size_t lo, std::size_t hi, unsigned depth,
                        unsigned height) {
    if (lo >= hi) return NOSTREAM;
    const std::size_t mid = lo + (hi - lo) / 2;
    Node* node = sorted[mid];
    node->left = BuildTree(sorted, lo, mid, depth + 1, height);
    node->right = BuildTree(sorted, mid + 1, hi, depth + 1, height);
    node->color = (height > 1 && depth == height - 1) ? COLOR_RED : COLOR_BLACK;
    return node->id;
}

void Collect(Node& node, std::vector<Node*>& all) {
    node.id = static_cast<std::uint32_t>(all.size());
    all.push_back(&node);
    for (auto& child : node.children) Collect(*child, all);
}

void LinkChildren(Node& node) {
    if (!node.storage) return;
    std::vector<Node*> sorted;
    for (auto& child : node.children) sorted.push_back(child.get());
    std::sort(sorted.begin(), sorted.end(), [](const Node* a, const Node* b) {
        return CompareElementNames(a->name, b->name) < 0;
    });
    unsigned height = 0;
    while ((std::size_t{1} << height) - 1 < sorted.size()) ++height;
    node.child = BuildTree(sorted, 0, sorted.size(), 0, height);
    for (auto& child : node.children) LinkChildren(*child);
}

// Copies a stream's content to `out`, checking that a source file still has
// the size it was added with.
bool PutContent(const Node& node, Output& out, std::string* error) {
    if (!node.fromFile) {
        out.Put(node.content.data(), node.content.size());
        return true;
    }
    const int fd = ::open(node.sourceFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, node.sourceFile + ": " + std::strerror(errno));
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    std::uint64_t left = node.size;
    bool ok = true;
    while (left > 0) {
        const ssize_t n =
            ::read(fd, buffer.data(),
                   static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size())));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        out.Put(buffer.data(), static_cast<std::size_t>(n));
        left -= static_cast<std::uint64_t>(n);
    }
    ::close(fd);
    if (!ok) SetError(error, node.sourceFile + ": shorter than when it was added");
    return ok;
}

void PutDirectoryEntry(Output& out, const Node* node, bool root) {
    unsigned char e[DIRECTORY_ENTRY_SIZE] = {};
    Put32(e + E_LEFT, NOSTREAM);
    Put32(e + E_RIGHT, NOSTREAM);
    Put32(e + E_CHILD, NOSTREAM);
    if (node) {
        const std::u16string name = root ? u"Root Entry" : node->name;
        for (std::size_t i = 0; i < name.size(); ++i) Put16(e + E_NAME + 2 * i, name[i]);
        Put16(e + E_NAME_LENGTH, static_cast<std::uint16_t>((name.size() + 1) * 2));
        e[E_TYPE] = root ? TYPE_ROOT : node->storage ? TYPE_STORAGE : TYPE_STREAM;
        e[E_COLOR] = root ? COLOR_BLACK : node->color;
        Put32(e + E_LEFT, node->left);
        Put32(e + E_RIGHT, node->right);
        Put32(e + E_CHILD, node->child);
        Put32(e + E_START_SECTOR, node->storage && !root ? 0 : node->start);
        Put64(e + E_SIZE, node->storage && !root ? 0 : node->size);
    }
    out.Put(e, sizeof e);
}

}  // namespace

CompoundFileWriter::CompoundFileWriter() : root_(std::make_unique<Node>()) {}
CompoundFileWriter::~CompoundFileWriter() = default;

bool CompoundFileWriter::AddStorage(const Path& path, std::string* error) {
    Node* node = root_.get();
    for (const std::string& part : path) {
        std::u16string name;
        if (!ValidName(part, name, error)) return false;
        Node* child = FindChild(*node, name);
        if (!child) {
            auto created = std::make_unique<Node>();
            created->name = name;
            child = created.get();
            node->children.push_back(std::move(created));
        } else if (!child->storage) {
            SetError(error, part + ": a stream of that name exists");
            return false;
        }
        node = child;
    }
    return true;
}

namespace {

Node* AddStreamNode(Node& root, const CompoundFileWriter::Path& path, std::string* error,
                    const std::function<bool(const CompoundFileWriter::Path&)>& addParents) {
    if (path.empty()) {
        SetError(error, "a stream needs a name");
        return nullptr;
    }
    if (!addParents(CompoundFileWriter::Path(path.begin(), path.end() - 1))) return nullptr;
    Node* parent = &root;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        std::u16string name;
        Utf8ToUtf16(path[i], name);
        parent = FindChild(*parent, name);
    }
    std::u16string name;
    if (!ValidName(path.back(), name, error)) return nullptr;
    if (FindChild(*parent, name)) {
        SetError(error, path.back() + ": an element of that name exists");
        return nullptr;
    }
    auto node = std::make_unique<Node>();
    node->name = name;
    node->storage = false;
    Node* raw = node.get();
    parent->children.push_back(std::move(node));
    return raw;
}

}  // namespace

bool CompoundFileWriter::AddStream(const Path& path, std::string content, std::string* error) {
    if (content.size() > MAX_STREAM_SIZE) {
        SetError(error, "stream is too large for this format version");
        return false;
    }
    Node* node =
        AddStreamNode(*root_, path, error, [&](const Path& p) { return AddStorage(p, error); });
    if (!node) return false;
    node->size = content.size();
    node->content = std::move(content);
    return true;
}

bool CompoundFileWriter::AddStreamFromFile(const Path& path, const std::string& file,
                                           std::uint64_t size, std::string* error) {
    if (size > MAX_STREAM_SIZE) {
        SetError(error, file + ": too large for a stream of this format version");
        return false;
    }
    Node* node =
        AddStreamNode(*root_, path, error, [&](const Path& p) { return AddStorage(p, error); });
    if (!node) return false;
    node->fromFile = true;
    node->sourceFile = file;
    node->size = size;
    return true;
}

bool CompoundFileWriter::Write(const std::string& path, std::string* error, int version) const {
    if (version != 3 && version != 4) {
        SetError(error, "only versions 3 and 4 can be written");
        return false;
    }
    const std::uint32_t sectorSize = version == 3 ? 512 : 4096;
    const std::uint32_t entriesPerSector = sectorSize / 4;      // allocation table
    const std::uint32_t difatPerSector = entriesPerSector - 1;  // the last links on
    Node& root = *root_;
    std::vector<Node*> all;
    Collect(root, all);
    LinkChildren(root);

    // Sector layout after the header: regular streams, the mini stream, the
    // mini allocation table, the directory, the allocation table, the DIFAT.
    std::uint32_t next = 0;
    std::uint32_t miniSectors = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;  // first, count
    for (Node* node : all) {
        if (node == &root || node->storage) continue;
        if (node->size == 0) {
            node->start = ENDOFCHAIN;
        } else if (node->size < MINI_STREAM_CUTOFF) {
            node->start = miniSectors;
            miniSectors += SectorsFor(node->size, MINI_SECTOR_SIZE);
        } else {
            node->start = next;
            const std::uint32_t count = SectorsFor(node->size, sectorSize);
            chains.emplace_back(next, count);
            next += count;
        }
    }
    const std::uint64_t miniStreamSize = std::uint64_t{miniSectors} * MINI_SECTOR_SIZE;
    const std::uint32_t miniStreamSectors = SectorsFor(miniStreamSize, sectorSize);
    root.start = miniStreamSectors ? next : ENDOFCHAIN;
    root.size = miniStreamSize;
    if (miniStreamSectors) chains.emplace_back(next, miniStreamSectors);
    next += miniStreamSectors;
    const std::uint32_t miniFatSectors = SectorsFor(std::uint64_t{miniSectors} * 4, sectorSize);
    const std::uint32_t firstMiniFat = miniFatSectors ? next : ENDOFCHAIN;
    if (miniFatSectors) chains.emplace_back(next, miniFatSectors);
    next += miniFatSectors;
    const std::uint32_t directorySectors =
        SectorsFor(all.size() * DIRECTORY_ENTRY_SIZE, sectorSize);
    const std::uint32_t firstDirectory = next;
    chains.emplace_back(next, directorySectors);
    next += directorySectors;
    std::uint32_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        const std::uint64_t total = std::uint64_t{next} + fatSectors + difatSectors;
        const std::uint32_t needFat = SectorsFor(total, entriesPerSector);
        const std::uint32_t needDifat =
            needFat > HEADER_DIFAT_ENTRIES
                ? SectorsFor(needFat - HEADER_DIFAT_ENTRIES, difatPerSector)
                : 0;
        if (needFat == fatSectors && needDifat == difatSectors) break;
        fatSectors = needFat;
        difatSectors = needDifat;
    }
    const std::uint32_t firstFat = next;
    const std::uint32_t firstDifat = firstFat + fatSectors;
    const std::uint64_t totalSectors = std::uint64_t{firstDifat} + difatSectors;
    if (totalSectors > MAXREGSECT) {
        SetError(error, "content is too large for one compound file");
        return false;
    }

    // Write into a temporary file beside the target.
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(random() % 1000000);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        SetError(error, path + ": " + std::strerror(errno));
        return false;
    }
    Output out(fd, sectorSize);

    unsigned char header[HEADER_SIZE] = {};
    std::memcpy(header, SIGNATURE, sizeof SIGNATURE);
    Put16(header + H_MINOR_VERSION, 0x003E);
    Put16(header + H_MAJOR_VERSION, static_cast<std::uint16_t>(version));
    Put16(header + H_BYTE_ORDER, 0xFFFE);
    Put16(header + H_SECTOR_SHIFT, version == 3 ? 9 : 12);
    if (version == 4) Put32(header + H_DIRECTORY_SECTORS, directorySectors);
    Put16(header + H_MINI_SECTOR_SHIFT, 6);
    Put32(header + H_FAT_SECTORS, fatSectors);
    Put32(header + H_FIRST_DIRECTORY_SECTOR, firstDirectory);
    Put32(header + H_MINI_STREAM_CUTOFF, MINI_STREAM_CUTOFF);
    Put32(header + H_FIRST_MINI_FAT_SECTOR, firstMiniFat);
    Put32(header + H_MINI_FAT_SECTORS, miniFatSectors);
    Put32(header + H_FIRST_DIFAT_SECTOR, difatSectors ? firstDifat : ENDOFCHAIN);
    Put32(header + H_DIFAT_SECTORS, difatSectors);
    for (std::uint32_t i = 0; i < HEADER_DIFAT_ENTRIES; ++i)
        Put32(header + H_DIFAT + 4 * i, i < fatSectors ? firstFat + i : FREESECT);
    out.Put(header, sizeof header);
    out.PadToSector();

    bool ok = true;
    // Regular streams, then the small ones packed into the mini stream.
    for (Node* node : all) {
        if (node->storage || node->size < MINI_STREAM_CUTOFF) continue;
        ok = ok && PutContent(*node, out, error);
        out.PadToSector();
    }
    for (Node* node : all) {
        if (node->storage || node->size == 0 || node->size >= MINI_STREAM_CUTOFF) continue;
        ok = ok && PutContent(*node, out, error);
        out.Zeros((MINI_SECTOR_SIZE - node->size % MINI_SECTOR_SIZE) % MINI_SECTOR_SIZE);
    }
    out.PadToSector();
    // Mini allocation table: each small stream's mini sectors in a row.
    {
        unsigned char value[4];
        std::uint32_t written = 0;
        for (Node* node : all) {
            if (node->storage || node->size == 0 || node->size >= MINI_STREAM_CUTOFF) continue;
            const std::uint32_t count = SectorsFor(node->size, MINI_SECTOR_SIZE);
            for (std::uint32_t i = 0; i < count; ++i) {
                Put32(value, i + 1 < count ? node->start + i + 1 : ENDOFCHAIN);
                out.Put(value, 4);
                ++written;
            }
        }
        Put32(value, FREESECT);
        for (; written < miniFatSectors * entriesPerSector; ++written) out.Put(value, 4);
    }
    // Directory.
    for (Node* node : all) PutDirectoryEntry(out, node, node == &root);
    for (std::size_t i = all.size(); i < directorySectors * (sectorSize / DIRECTORY_ENTRY_SIZE);
         ++i)
        PutDirectoryEntry(out, nullptr, false);
    // Allocation table.
    {
        unsigned char value[4];
        std::uint64_t sector = 0;
        for (const auto& [first, count] : chains) {
            for (std::uint32_t i = 0; i < count; ++i, ++sector) {
                Put32(value, i + 1 < count ? first + i + 1 : ENDOFCHAIN);
                out.Put(value, 4);
            }
        }
        for (; sector < firstDifat; ++sector) {
            Put32(value, FATSECT);
            out.Put(value, 4);
        }
        for (; sector < totalSectors; ++sector) {
            Put32(value, DIFSECT);
            out.Put(value, 4);
        }
        Put32(value, FREESECT);
        for (; sector < std::uint64_t{fatSectors} * entriesPerSector; ++sector) out.Put(value, 4);
    }
    // DIFAT sectors: the allocation table sectors beyond the header's 109.
    {
        unsigned char value[4];
        std::uint32_t fat = HEADER_DIFAT_ENTRIES;
        for (std::uint32_t d = 0; d < difatSectors; ++d) {
            for (std::uint32_t i = 0; i < difatPerSector; ++i, ++fat) {
                Put32(value, fat < fatSectors ? firstFat + fat : FREESECT);
                out.Put(value, 4);
            }
            Put32(value, d + 1 < difatSectors ? firstDifat + d + 1 : ENDOFCHAIN);
            out.Put(value, 4);
        }
    }
    ok = out.Flush() && ok;
    if (ok && out.written() != (totalSectors + 1) * sectorSize) {
        SetError(error, "internal error: layout and output disagree");
        ok = false;
    } else if (!out.ok()) {
        SetError(error, path + ": write failed");
    }
    if (ok && ::fsync(fd) != 0) {
        SetError(error, path + ": " + std::strerror(errno));
        ok = false;
    }
    ::close(fd);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        SetError(error, path + ": " + std::strerror(errno));
        ok = false;
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace pelmo::platform
