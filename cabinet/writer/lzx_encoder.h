// LZX encoder settings beyond those of MakeLzxEncoder (for tests and tuning).
#pragma once

#include <memory>

#include "cabinet/writer/folder_encoder.h"

namespace cab {

struct LzxEncoderOptions {
    int windowBits = 21;  // 15 to 21
    bool translateE8 = false;
    // Frames a verbatim or aligned block may span. Blocks of more than one
    // frame give every symbol a code so that later frames can use the trees.
    int blockFrames = 1;
    // 0 chooses each block's type by its cost; 1, 2 or 3 forces verbatim,
    // aligned or uncompressed blocks.
    int forcedBlockType = 0;
    int maxChain = 32;  // match candidates a search visits, 1 to 256
};

std::unique_ptr<FolderEncoder> MakeLzxEncoder(const LzxEncoderOptions& options);

}  // namespace cab
