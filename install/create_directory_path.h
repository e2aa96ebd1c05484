// Creating a folder together with its missing parents.
#pragma once

#include <sys/types.h>

#include <string>

namespace pelmo {

// Creates every missing parent of path (each text before a "/" other than a
// leading one) and then path itself, each with mode (before the umask).
// Failures on the way are ignored. Answers 1 only when the last creation, that
// of path itself, made the folder: 0 when it existed already or cannot be made.
int CreateDirectoryPath(const std::string& path, mode_t mode = 0777);

}  // namespace pelmo
