// A publisher's release folder: one folder per version, named by its id,
// holding that version's files as they land in the client folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/compound_file_writer.h"

namespace pelmo::tools {

struct ReleaseVersion {
    int32_t id = 0;
    std::string folder;
};

// A version id as a folder name: plain decimal (an optional "-", no leading
// zeros) within 32 bits.
bool ParseVersionId(const std::string& text, int32_t& id);

// The version folders of releasesDir, ascending by id. False with a reason
// when it is not a folder, holds anything that is not a version folder, or
// holds none.
bool ListReleaseVersions(const std::string& releasesDir, std::vector<ReleaseVersion>& versions,
                         std::string* error);

// One version's tree, read and checked: every name can be stored and every
// entry is a file or a folder.
struct ReleaseTree {
    std::unique_ptr<platform::CompoundFileWriter> content;  // ready to write as N.pak
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::string digest;  // of names, kinds, sizes and contents
};

// Reads the version folder into tree. False with a reason for an empty
// folder, a name that cannot be stored, or an entry that is neither a file
// nor a folder.
bool ReadReleaseTree(const std::string& folder, ReleaseTree& tree, std::string* error);

}  // namespace pelmo::tools
