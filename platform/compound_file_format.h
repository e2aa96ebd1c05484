// Layout constants of the compound file format (header, sectors, directory
// entries), shared by the reader and the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pelmo::platform::compound_format {

inline constexpr unsigned char SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

inline constexpr std::size_t HEADER_SIZE = 512;
inline constexpr std::size_t HEADER_DIFAT_ENTRIES = 109;
inline constexpr std::size_t DIRECTORY_ENTRY_SIZE = 128;
inline constexpr std::size_t MINI_SECTOR_SIZE = 64;
inline constexpr std::uint32_t MINI_STREAM_CUTOFF = 4096;

inline constexpr std::uint32_t MAXREGSECT = 0xFFFFFFFA;
inline constexpr std::uint32_t DIFSECT = 0xFFFFFFFC;
inline constexpr std::uint32_t FATSECT = 0xFFFFFFFD;
inline constexpr std::uint32_t ENDOFCHAIN = 0xFFFFFFFE;
inline constexpr std::uint32_t FREESECT = 0xFFFFFFFF;
inline constexpr std::uint32_t NOSTREAM = 0xFFFFFFFF;

// Header field offsets.
inline constexpr std::size_t H_MINOR_VERSION = 24;
inline constexpr std::size_t H_MAJOR_VERSION = 26;
inline constexpr std::size_t H_BYTE_ORDER = 28;
inline constexpr std::size_t H_SECTOR_SHIFT = 30;
inline constexpr std::size_t H_MINI_SECTOR_SHIFT = 32;
inline constexpr std::size_t H_DIRECTORY_SECTORS = 40;
inline constexpr std::size_t H_FAT_SECTORS = 44;
inline constexpr std::size_t H_FIRST_DIRECTORY_SECTOR = 48;
inline constexpr std::size_t H_MINI_STREAM_CUTOFF = 56;
inline constexpr std::size_t H_FIRST_MINI_FAT_SECTOR = 60;
inline constexpr std::size_t H_MINI_FAT_SECTORS = 64;
inline constexpr std::size_t H_FIRST_DIFAT_SECTOR = 68;
inline constexpr std::size_t H_DIFAT_SECTORS = 72;
inline constexpr std::size_t H_DIFAT = 76;

// Directory entry field offsets.
inline constexpr std::size_t E_NAME = 0;
inline constexpr std::size_t E_NAME_LENGTH = 64;
inline constexpr std::size_t E_TYPE = 66;
inline constexpr std::size_t E_COLOR = 67;
inline constexpr std::size_t E_LEFT = 68;
inline constexpr std::size_t E_RIGHT = 72;
inline constexpr std::size_t E_CHILD = 76;
inline constexpr std::size_t E_START_SECTOR = 116;
inline constexpr std::size_t E_SIZE = 120;

inline constexpr std::uint8_t TYPE_UNUSED = 0;
inline constexpr std::uint8_t TYPE_STORAGE = 1;
inline constexpr std::uint8_t TYPE_STREAM = 2;
inline constexpr std::uint8_t TYPE_ROOT = 5;
inline constexpr std::uint8_t COLOR_RED = 0;
inline constexpr std::uint8_t COLOR_BLACK = 1;

inline std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const unsigned char* p) {
    return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Put64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace pelmo::platform::compound_format
