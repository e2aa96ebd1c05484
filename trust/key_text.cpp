#include "trust/key_text.h"

#include <sodium.h>

#include "trust/sodium_ready.h"

namespace pelmo::trust {

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool StripPrefix(std::string_view line, std::string_view prefix, std::string_view& rest) {
    if (line.substr(0, prefix.size()) != prefix) return false;
    rest = line.substr(prefix.size());
    return true;
}

bool DecodeBase64(std::string_view line, unsigned char* out, std::size_t size) {
    SodiumReady();
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    // The exact length of a padded encoding of size bytes: nothing shorter or
    // longer can decode to it.
    if (line.size() != ((size + 2) / 3) * 4) return false;
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, line.data(), line.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        return false;
    }
    return decoded == size && end == line.data() + line.size();
}

std::string EncodeBase64(const unsigned char* data, std::size_t size) {
    SodiumReady();
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);  // the terminating NUL
    return text;
}

}  // namespace pelmo::trust
