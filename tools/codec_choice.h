// The compression a cabinet is made with, as a command line names it:
// "none", "mszip", "lzx:15".."lzx:21" or "quantum:10".."quantum:21".
#pragma once

#include <memory>
#include <string>

#include "cabinet/writer/folder_encoder.h"

namespace pelmo::tools {

struct CodecChoice {
    std::string text = "none";
    int codec = 0;  // 0 none, 1 mszip, 2 quantum, 3 lzx
    int windowBits = 0;
};

// Reads a codec name; false when it names no codec or a window out of range.
bool ParseCodec(const std::string& text, CodecChoice* choice);

// A fresh encoder for one folder, or null when the build lacks the codec.
std::unique_ptr<cab::FolderEncoder> MakeEncoder(const CodecChoice& choice);

// The names ParseCodec accepts, for usage and error texts.
inline constexpr const char* CODEC_NAMES = "none, mszip, lzx:15..21, quantum:10..21";

}  // namespace pelmo::tools
