// Reading a whole file in fixed-size chunks, for hashes that must never hold
// the file in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace pelmo::trust {

// Calls consume with each chunk of the file at path, in order. False with a
// reason when the file cannot be opened or read.
bool ForEachFileChunk(
    const std::string& path,
    const std::function<void(const unsigned char* data, std::size_t size)>& consume,
    std::string* reason);

}  // namespace pelmo::trust
