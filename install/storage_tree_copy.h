// Copies the tree of a compound file's storage into a folder: storages become
// folders, streams become files, other elements are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/compound_file_reader.h"

namespace pelmo {

struct StorageCopyOptions {
    // The running program's own file: a stream whose target names it (letter
    // case ignored, or the same file by identity) is skipped.
    std::string modulePath;
    // Flush each file to disk before it replaces its target.
    bool durable = true;
    // Staging, for an installation that must happen as a unit: no target is
    // replaced, each file stays as its temporary file. Each temporary file is
    // handed to onTemporaryFile with its target as soon as it exists (false
    // from it ends the copy), each folder the copy creates to
    // onFolderCreated, and any failure other than a skipped element ends the
    // whole copy.
    std::function<bool(const std::string& temporary, const std::string& target)> onTemporaryFile;
    std::function<void(const std::string& folder)> onFolderCreated;
};

// What a copy did, for callers that report it (the installation does not).
struct StorageCopyReport {
    std::uint64_t files = 0;
    std::uint64_t folders = 0;
    std::uint64_t bytes = 0;
    std::vector<std::string> problems;  // skipped elements and failures, in order
};

// Size of each read from a stream.
inline constexpr std::size_t COPY_BUFFER_SIZE = 10240;

// Writes the elements of `storage` into `folder`, recursively, replacing
// whatever stands under the same names. Failing to open an element or to
// create a target ends the copy of that tree level; a failed read or write
// ends only that file, whose old target then stays in place. Names that are
// empty, "." or "..", or hold "/" are skipped: nothing leaves `folder`.
// When staging (options.onTemporaryFile), the first failure ends the copy and the
// answer is false, with the cause as the report's last problem.
bool CopyStorageTree(const platform::CompoundStorage& storage, const std::string& folder,
                     const StorageCopyOptions& options, StorageCopyReport* report = nullptr);

}  // namespace pelmo
