// The file side of the cabinet library's callbacks on POSIX: open, read,
// write, close and seek with the library's handle conventions (ints, -1 for
// failure) and its open flag encoding. The signatures match the library's
// callback types so that the functions can be handed to it directly; this
// header needs nothing from the library itself.
#pragma once

#include <cstdint>

namespace pelmo::platform {

// Flag words as the cabinet library passes them (the C runtime's _open
// encoding). Access mode in the low two bits; binary, text and sequential
// bits have no meaning here.
inline constexpr int kCabinetOpenWriteOnly = 0x0001;
inline constexpr int kCabinetOpenReadWrite = 0x0002;
inline constexpr int kCabinetOpenAppend = 0x0008;
inline constexpr int kCabinetOpenCreate = 0x0100;
inline constexpr int kCabinetOpenTruncate = 0x0200;
inline constexpr int kCabinetOpenExclusive = 0x0400;
// Permission bits of the mode argument.
inline constexpr int kCabinetModeRead = 0x0100;
inline constexpr int kCabinetModeWrite = 0x0080;

// Opens `path`; answers a descriptor (close-on-exec) or -1.
int CabinetFileOpen(const char* path, int flags, int mode);
// Reads up to `count` bytes, retrying short reads until end of file; answers
// the number read (less than count only at end of file) or -1.
int CabinetFileRead(int handle, void* buffer, uint32_t count);
// Writes all `count` bytes; answers count, or -1 on failure.
int CabinetFileWrite(int handle, const void* buffer, uint32_t count);
// Answers 0 on success, -1 on failure.
int CabinetFileClose(int handle);
// origin 0 from the start, 1 from the current position, 2 from the end;
// answers the new position or -1.
long CabinetFileSeek(int handle, long offset, int origin);

// Reserves disk space for `size` bytes about to be written to a new output
// file, so that the writes need not allocate as they go; the file's size is
// unchanged. Best effort: a file system without the service is left alone.
void PreallocateFile(int handle, uint64_t size);

// Translates the library's flag word and mode into open(2)'s.
int TranslateCabinetOpenFlags(int flags);
unsigned TranslateCabinetOpenMode(int mode);

}  // namespace pelmo::platform
