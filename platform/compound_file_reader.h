// Read-only access to a compound file: a tree of storages (folders) and
// streams (files) inside one file. The file is opened with an exclusive lock
// and checked as a whole before anything is listed, so a damaged or hostile
// file fails up front or, for a damaged stream, on that stream alone; nothing
// in it can make the reader loop, crash or allocate without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmo::platform {

struct CompoundFileData;

enum class CompoundElementKind : std::uint8_t { Other = 0, Storage = 1, Stream = 2 };

// One child of a storage, as listed.
struct CompoundElement {
    std::string name;  // UTF-8
    CompoundElementKind kind = CompoundElementKind::Other;
    std::uint8_t rawType = 0;  // the stored object type
    std::uint64_t size = 0;    // stream length in bytes; 0 for other kinds
    std::uint32_t entry = 0;   // directory entry, the handle for opening it
};

// A stream opened for reading from its start.
class CompoundStream {
  public:
    CompoundStream(std::shared_ptr<const CompoundFileData> file, std::uint64_t size,
                   std::vector<std::uint32_t> miniSectors, std::uint32_t firstSector);
    ~CompoundStream();
    CompoundStream(const CompoundStream&) = delete;
    CompoundStream& operator=(const CompoundStream&) = delete;

    // Copies up to `capacity` bytes into `buffer`. Returns the count, 0 at the
    // end, or -1 when the stream's sector chain is damaged (then every later
    // call returns -1 too). The chain's end is checked before the last bytes
    // are handed out, so a reader that saw no -1 has the whole, sound stream.
    std::ptrdiff_t Read(void* buffer, std::size_t capacity);

    std::uint64_t Size() const { return size_; }
    const std::string& Error() const { return error_; }

  private:
    bool ReadRegular(unsigned char* out, std::size_t count);
    bool ReadMini(unsigned char* out, std::size_t count);
    bool NextSector(std::uint32_t sector, std::uint32_t& next);
    bool AdvanceTo(std::uint64_t index);
    bool CheckChainEnd();
    std::ptrdiff_t Fail(std::string message);

    std::shared_ptr<const CompoundFileData> file_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
    bool failed_ = false;
    std::string error_;
    // Mini streams: the whole (short) chain, walked at open.
    std::vector<std::uint32_t> miniSectors_;
    bool mini_;
    // Regular streams: the sector being read and a one-sector cache of the
    // allocation table.
    std::uint32_t sector_;
    std::uint64_t sectorIndex_ = 0;  // place of sector_ in the chain
    std::vector<unsigned char> fatCache_;
    std::uint32_t fatCacheIndex_ = UINT32_MAX;
};

// A storage: lists its children and opens them.
class CompoundStorage {
  public:
    CompoundStorage(std::shared_ptr<const CompoundFileData> file, std::uint32_t entry);

    // The children in the format's order (an in-order walk of the storage's
    // sibling tree).
    std::vector<CompoundElement> Children() const;

    // Finds a child by name (compared as the format does, ignoring case).
    std::optional<CompoundElement> Find(std::string_view name) const;

    // Opens a child listed by Children(). Null or empty with `error` set when
    // the element is of another kind or its content is damaged.
    std::optional<CompoundStorage> OpenStorage(const CompoundElement& element,
                                               std::string* error = nullptr) const;
    std::unique_ptr<CompoundStream> OpenStream(const CompoundElement& element,
                                               std::string* error = nullptr) const;

  private:
    std::shared_ptr<const CompoundFileData> file_;
    std::uint32_t entry_;
};

// An open compound file. Storages and streams keep the file open while they
// live; the exclusive lock is held until the last of them is gone.
class CompoundFile {
  public:
    // Opens and checks `path`. Null with `error` set when the file cannot be
    // opened or locked, is not a compound file, or its structure is damaged.
    static std::unique_ptr<CompoundFile> Open(const std::string& path,
                                              std::string* error = nullptr);

    CompoundStorage Root() const;
    int MajorVersion() const;
    std::size_t SectorSize() const;

    explicit CompoundFile(std::shared_ptr<const CompoundFileData> data);

  private:
    std::shared_ptr<const CompoundFileData> data_;
};

}  // namespace pelmo::platform
