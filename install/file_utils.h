// Small file operations of the installation and the client launch.
#pragma once

#include <string>

namespace pelmo {

// Removes the file or folder tree at `path` (links are removed, never
// followed), silently. 1 when something was removed and nothing is left, else 0.
int DeletePathSilently(const std::string& path);

// 1 when `path` names a file (not a folder) that can be opened for reading.
int FileExists(const std::string& path);

// `folder` with a "/" appended when it does not end in one ("" becomes "/").
std::string WithTrailingSeparator(std::string folder);

}  // namespace pelmo
