// How the cabinet writer compresses one folder: an encoder turns each frame of
// the folder's uncompressed stream (at most 32768 bytes, every frame but the
// last exactly 32768) into the bytes of one data block.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace cab {

class FolderEncoder {
public:
    virtual ~FolderEncoder() = default;

    // The folder entry's compressionType word (codec in the low four bits,
    // window exponent in bits 8 to 12).
    virtual uint16_t CompressionType() const = 0;

    // Appends one data block's compressed bytes for `frame` to `out`. History
    // carries over from the previous frame of the same folder; `lastFrame` is
    // set for the folder's final frame. The block must fit the decoder's
    // compressed buffer and a 16-bit size. Returns false on failure.
    virtual bool EncodeFrame(const uint8_t* frame, uint32_t size, bool lastFrame,
                             std::vector<uint8_t>& out) = 0;
};

// Encoders by codec. Each lives in its own file of this folder.
std::unique_ptr<FolderEncoder> MakeStoredEncoder();
std::unique_ptr<FolderEncoder> MakeMszipEncoder(int level);
std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits, bool translateE8);
std::unique_ptr<FolderEncoder> MakeQuantumEncoder(int windowBits);

}  // namespace cab
