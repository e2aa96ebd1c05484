// Turning a folder tree into the content of a compound file: folders become
// storages, files streams. Shared by 'pak pack' and 'publish'.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/compound_file_writer.h"

namespace pelmo::tools {

struct FolderPackingReport {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

// What to do with an entry that is neither a regular file nor a folder (a
// link, a device, ...): answer true to skip it, false to fail. The text
// names the entry.
using OtherEntryPolicy = std::function<bool(const std::filesystem::path& entry)>;

// Adds every entry below `folder` to `writer` under `path`, in name order.
// False with a reason ("PATH: what") in *error when an entry cannot be read or
// its name cannot be stored.
bool PackFolder(platform::CompoundFileWriter& writer, const std::filesystem::path& folder,
                const platform::CompoundFileWriter::Path& path, const OtherEntryPolicy& other,
                FolderPackingReport* report, std::string* error);

}  // namespace pelmo::tools
