// Putting a file from disk into a cabinet being written, read in chunks.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "cabinet/writer/cabinet_writer.h"

namespace pelmo::tools {

struct DiskFileOptions {
    // Store the file's modification time and its read-only and executable
    // bits; without it the entry gets a fixed date and plain attributes, so
    // that the same content always makes the same cabinet.
    bool keepMetadata = true;
    // Called with the size of each chunk read, for progress displays.
    std::function<void(std::size_t)> onRead;
};

// Adds the file at `path` to the writer's current folder under `storedName`
// ("\" between folders). False with a reason in *error on failure.
bool AddDiskFile(cab::CabinetWriter& writer, const std::string& path, const std::string& storedName,
                 const DiskFileOptions& options, std::string* error);

}  // namespace pelmo::tools
