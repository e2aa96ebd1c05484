#include "tools/codec_choice.h"

#include <cerrno>
#include <cstdlib>

namespace pelmo::tools {

namespace {

bool ParseSmallNumber(const std::string& text, int* value) {
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::atoi(text.c_str());
    return true;
}

}  // namespace

bool ParseCodec(const std::string& text, CodecChoice* choice) {
    choice->text = text;
    choice->windowBits = 0;
    if (text == "none" || text == "mszip") {
        choice->codec = text == "none" ? 0 : 1;
        return true;
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string kind = text.substr(0, colon);
    int bits = 0;
    if (!ParseSmallNumber(text.substr(colon + 1), &bits)) return false;
    choice->windowBits = bits;
    if (kind == "lzx") {
        choice->codec = 3;
        return bits >= 15 && bits <= 21;
    }
    if (kind == "quantum") {
        choice->codec = 2;
        return bits >= 10 && bits <= 21;
    }
    return false;
}

std::unique_ptr<cab::FolderEncoder> MakeEncoder(const CodecChoice& choice) {
    switch (choice.codec) {
        case 1:
            return cab::MakeMszipEncoder(6);
        case 2:
            return cab::MakeQuantumEncoder(choice.windowBits);
        case 3:
            return cab::MakeLzxEncoder(choice.windowBits, true);
        default:
            return cab::MakeStoredEncoder();
    }
}

}  // namespace pelmo::tools
