// The text layout that key and signature files share: lines that start with
// a comment prefix, and lines of base64 (the standard alphabet, padded).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelmo::trust {

inline constexpr std::string_view UNTRUSTED_COMMENT_PREFIX = "untrusted comment: ";
inline constexpr std::string_view TRUSTED_COMMENT_PREFIX = "trusted comment: ";

// The lines of text, each without its "\n" and a "\r" before it. Empty lines
// at the end are dropped.
std::vector<std::string_view> SplitLines(std::string_view text);

// The text after prefix when line starts with it; false otherwise.
bool StripPrefix(std::string_view line, std::string_view prefix, std::string_view& rest);

// Decodes a base64 line (trailing blanks allowed) that must hold exactly size
// bytes.
bool DecodeBase64(std::string_view line, unsigned char* out, std::size_t size);
std::string EncodeBase64(const unsigned char* data, std::size_t size);

}  // namespace pelmo::trust
