// The Quantum history window held in memory: 2^n bytes written cyclically.
#pragma once

#include <cstdint>
#include <cstring>

namespace cab {

struct QuantumMemoryWindow {
    uint8_t* data;
    uint32_t size;  // a power of two
    uint32_t writePosition;

    bool PutByte(uint8_t byte) {
        data[writePosition] = byte;
        writePosition = (writePosition + 1) & (size - 1);
        return true;
    }

    // Copies `length` bytes from `distance` bytes behind the write position (1 to
    // size) to the write position and to `output`. Overlapping copies repeat
    // the pattern exactly as a copy of one byte at a time would.
    bool CopyMatch(uint32_t distance, uint32_t length, uint8_t* output) {
        const uint32_t mask = size - 1;
        uint32_t target = writePosition;
        uint32_t source = (target - distance) & mask;
        writePosition = (target + length) & mask;
        if (target + length <= size && source + length <= size) {
            if (length <= 16) {
                // Short copies one byte at a time: exact for every overlap.
                uint8_t* const to = data + target;
                const uint8_t* const from = data + source;
                for (uint32_t i = 0; i < length; ++i) {
                    const uint8_t byte = from[i];
                    to[i] = byte;
                    output[i] = byte;
                }
                return true;
            }
            if (source < target && target - source < length) {
                const uint32_t step = target - source;
                for (uint32_t done = 0; done < length; done += step) {
                    uint32_t piece = length - done < step ? length - done : step;
                    std::memcpy(data + target + done, data + source + done, piece);
                }
            } else {
                std::memmove(data + target, data + source, length);
            }
            std::memcpy(output, data + target, length);
            return true;
        }
        for (uint32_t i = 0; i < length; ++i) {
            uint8_t byte = data[source];
            data[target] = byte;
            output[i] = byte;
            source = (source + 1) & mask;
            target = (target + 1) & mask;
        }
        return true;
    }
};

}  // namespace cab
