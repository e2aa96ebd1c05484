// What 'publish' remembers in the output folder about each cabinet it made:
// the tree and codec it was made from, and the figures the manifest and the
// summary table show. A version whose tree and codec are unchanged is not
// built again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelmo::tools {

// The record's file name inside the output folder.
inline constexpr const char* PUBLISH_RECORD_NAME = ".pelmo-publish";

struct PublishedVersion {
    int32_t id = 0;
    std::string treeDigest;
    std::string codec;
    std::uint64_t files = 0;
    std::uint64_t contentBytes = 0;
    std::uint64_t cabinetBytes = 0;
    std::string sha256;  // of the cabinet
};

// The record of outDir, ascending by id; empty when there is none or it
// cannot be read (then every version is built again).
std::vector<PublishedVersion> ReadPublishRecord(const std::string& outDir);

// The record's text for versions.
std::string PublishRecordText(const std::vector<PublishedVersion>& versions);

}  // namespace pelmo::tools
