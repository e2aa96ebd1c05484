// The work folder: where packages are downloaded and unpacked, and where the
// installation step finds them. "<temporary folder>/PELMO_UPGRADE/". Nothing in
// it is ever deleted; a later run overwrites files of the same name.
#pragma once

#include <string>

namespace pelmo {

// The work folder's path, ending in "/".
std::string WorkFolderPath();

// Creates folder (mode 0700) with its missing parents when it does not exist,
// then checks that it is safe to put packages in: a real folder, not a link,
// owned by the effective user and writable by nobody else. An existing folder
// that fails a check is refused, not repaired. False, with a reason, when the
// folder cannot be used.
bool PrepareWorkFolder(const std::string& folder, std::string* reason = nullptr);

}  // namespace pelmo
