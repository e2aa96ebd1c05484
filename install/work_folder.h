// The work folder: where packages are downloaded and unpacked, and where the
// installation step finds them and keeps its journal. Each user has their own:
// "$TMPDIR/PELMO_UPGRADE/" when TMPDIR is set, else
// "${XDG_CACHE_HOME:-$HOME/.cache}/pelmo/PELMO_UPGRADE/". The installation
// removes each version's packages once the version is recorded.
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

// How long a partial download is kept for a later run to resume.
inline constexpr int PARTIAL_DOWNLOAD_DAYS = 30;

// Removes from folder the partial downloads ("N.cab.part" and its sidecar
// "N.cab.part.info") last written more than PARTIAL_DOWNLOAD_DAYS ago, and
// any other "N.cab.part..." leftover. Only one upgrader runs at a time, so
// none is in use.
void RemoveStalePartialDownloads(const std::string& folder);

}  // namespace pelmo
