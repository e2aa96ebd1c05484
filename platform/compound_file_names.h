// Element names of compound files: UTF-16 as stored, UTF-8 everywhere else,
// and the format's name order (shorter names first, then code units compared
// after upper-casing).
#pragma once

#include <string>
#include <string_view>

namespace pelmo::platform {

// Longest element name, in UTF-16 code units, without the terminating zero.
inline constexpr std::size_t COMPOUND_NAME_MAX_UNITS = 31;

// Converts UTF-16 code units to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Converts UTF-8 to UTF-16. Returns false for malformed UTF-8.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// Upper-cases one code unit the way the format orders names (simple
// one-to-one mappings of the Latin, Greek, Cyrillic and full-width letters).
char16_t UpperCaseNameUnit(char16_t unit);

// <0, 0 or >0: the format's order of two element names.
int CompareElementNames(std::u16string_view a, std::u16string_view b);

}  // namespace pelmo::platform
