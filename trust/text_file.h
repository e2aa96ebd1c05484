// Small text files of the trust subsystem: keys and signatures.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmo::trust {

// Reads the whole file at path into text; a file larger than maxBytes is
// refused. False with a reason on failure.
bool ReadTextFile(const std::string& path, std::size_t maxBytes, std::string& text,
                  std::string* reason);

// Writes text to path through a temporary file beside it, so that a reader
// never sees half a file. With replace false an existing path is left alone
// and the write fails. mode: the new file's permissions (before the umask).
bool WriteTextFile(const std::string& path, std::string_view text, mode_t mode, bool replace,
                   std::string* reason);

}  // namespace pelmo::trust
