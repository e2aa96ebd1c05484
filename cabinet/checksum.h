// The cabinet data block checksum: a running XOR of little-endian 32-bit
// words, with the last one to three bytes folded in big-end first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab {

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed);

// The checksum field of a data block: over its data, then over the header
// bytes after the checksum field (sizes and reserve).
inline uint32_t BlockChecksum(const uint8_t* data, size_t dataSize, const uint8_t* headerAfterSum,
                              size_t headerSize) {
    return CabChecksum(headerAfterSum, headerSize, CabChecksum(data, dataSize, 0));
}

}  // namespace cab
