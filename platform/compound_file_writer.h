// Builds a compound file (version 3, 512-byte sectors): storages and streams
// are collected first, then written in one pass. Stream content comes from
// memory or from a file read in chunks, so packing a large tree does not hold
// it in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelmo::platform {

class CompoundFileWriter {
  public:
    using Path = std::vector<std::string>;  // element names from the root, UTF-8

    CompoundFileWriter();
    ~CompoundFileWriter();
    CompoundFileWriter(const CompoundFileWriter&) = delete;
    CompoundFileWriter& operator=(const CompoundFileWriter&) = delete;

    // Adds a storage; missing storages on its path are added too. Adding an
    // existing storage again is not an error.
    bool AddStorage(const Path& path, std::string* error = nullptr);

    // Adds a stream with the given content.
    bool AddStream(const Path& path, std::string content, std::string* error = nullptr);

    // Adds a stream whose `size` bytes are read from `file` when writing.
    bool AddStreamFromFile(const Path& path, const std::string& file, std::uint64_t size,
                           std::string* error = nullptr);

    // Writes the compound file to `path` (through a temporary file beside it,
    // renamed into place when complete). Version 3 (512-byte sectors) is the
    // package format; version 4 (4096-byte sectors) is there for tests.
    bool Write(const std::string& path, std::string* error = nullptr, int version = 3) const;

    struct Node;

  private:
    std::unique_ptr<Node> root_;
};

}  // namespace pelmo::platform
