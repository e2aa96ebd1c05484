// Internal to the cabinet library and its writer: the numbers of the cabinet
// file format that reader, decoders and writer must agree on.
#pragma once

#include <cstdint>

namespace cab {

// Cabinet header: "MSCF", format 1.3, 36 bytes before the optional parts.
inline constexpr uint32_t CABINET_SIGNATURE = 'M' | 'S' << 8 | 'C' << 16 | uint32_t('F') << 24;
inline constexpr uint16_t CABINET_VERSION = 0x0103;
inline constexpr uint32_t CABINET_HEADER_SIZE = 36;

// Header flags.
inline constexpr uint16_t HEADER_FLAG_PREVIOUS = 0x0001;
inline constexpr uint16_t HEADER_FLAG_NEXT = 0x0002;
inline constexpr uint16_t HEADER_FLAG_RESERVE = 0x0004;

// Fixed parts of the entries; reserves follow folder entries and block headers.
inline constexpr uint32_t FOLDER_ENTRY_FIXED_SIZE = 8;
inline constexpr uint32_t FILE_ENTRY_FIXED_SIZE = 16;
inline constexpr uint32_t BLOCK_HEADER_FIXED_SIZE = 8;
inline constexpr uint32_t MAX_NAME_LENGTH = 255;

// The largest uncompressed data block, and the output buffer size.
inline constexpr uint32_t MAX_BLOCK_SIZE = 32768;

// Special folder indexes of file entries.
inline constexpr uint16_t CONTINUED_FROM_PREVIOUS = 0xFFFD;
inline constexpr uint16_t CONTINUED_TO_NEXT = 0xFFFE;
inline constexpr uint16_t CONTINUED_BOTH = 0xFFFF;

// How far a compressed block may exceed MAX_BLOCK_SIZE for each decoder: its
// compressed buffer is MAX_BLOCK_SIZE plus this slack.
inline constexpr uint32_t MSZIP_INPUT_SLACK = 12;
inline constexpr uint32_t QUANTUM_INPUT_SLACK = 10240;
inline constexpr uint32_t LZX_INPUT_SLACK = 6144;

}  // namespace cab
