// Building one version's package: its tree as the compound file N.pak, put
// into a cabinet with the chosen codec under a temporary name in the output
// folder. The caller renames it into place.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tools/codec_choice.h"
#include "tools/release_tree.h"

namespace pelmo::tools {

struct BuiltPackage {
    std::string temporaryPath;  // the finished cabinet, not yet in place
    std::uint64_t cabinetBytes = 0;
    std::string sha256;
};

// Builds version id's cabinet from tree into outDir. `compressed` counts the
// bytes of N.pak compressed so far. False with a reason on failure, leaving
// no temporary file behind.
bool BuildVersionPackage(int32_t id, const ReleaseTree& tree, const CodecChoice& codec,
                         const std::string& outDir, std::atomic<std::uint64_t>& compressed,
                         BuiltPackage& built, std::string* error);

// The temporary name of a file being made in the output folder: hidden, and
// unique to this process.
std::string TemporaryName(const std::string& name);

}  // namespace pelmo::tools
