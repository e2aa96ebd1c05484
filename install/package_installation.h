// Step 4 of an upgrade run: copy each downloaded package's content into the
// client folder, run the package's post-install program, record the version.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "settings/version_entry.h"

namespace pelmo {

inline constexpr const char* POST_INSTALL_PROGRAM = "PelmoUpgrade.exe";

// How long a post-install program is waited for: `polls` looks, each followed
// by `pause`, then one more pause. Tests shorten it; the run uses the default
// (about two minutes).
struct PostInstallWait {
    int polls = 241;
    std::chrono::milliseconds pause{500};
};

struct InstallationRun {
    std::vector<VersionEntry> versions;  // pending versions, ascending
    std::string workFolder;              // holds N.pak for each version N
    std::string clientFolder;            // the client settings' folder, as read
    std::string modulePath;              // the running upgrader: never overwritten
    // Records an installed version (the VERSION setting); failures are silent.
    std::function<void(std::int32_t)> recordVersion;
    PostInstallWait wait;
    bool durable = true;  // flush each installed file to disk
};

// Installs every entry of `run.versions` in order. Returns 1 when all were
// installed; 0 when a package content file cannot be opened, a post-install
// program cannot be started, or anything throws. Entries installed before a
// failure stay installed and recorded.
int InstallPackages(const InstallationRun& run);

}  // namespace pelmo
