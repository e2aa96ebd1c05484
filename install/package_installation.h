// Step 4 of an upgrade run: copy each downloaded package's content into the
// client folder, run the package's post-install program, record the version.
//
// A version installs as a unit: every file is first written as a temporary
// file beside its target; only when all are written are they renamed into
// place, the post-install program run and the version recorded. A journal in
// the work folder (install/install_journal.h) lets the next start finish or
// undo a version whose installation was interrupted.
#pragma once

#include <atomic>
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
    std::string workFolder;              // holds N.pak for each version N, and the journal
    std::string clientFolder;            // the client settings' folder, as read
    std::string modulePath;              // the running upgrader: never overwritten
    // Records an installed version (the VERSION setting); failures are silent.
    std::function<void(std::int32_t)> recordVersion;
    PostInstallWait wait;
    bool durable = true;  // flush each installed file to disk
    // A stop request: honoured between versions, never inside one.
    const std::atomic<std::int32_t>* cancelRequested = nullptr;
};

// Installs every entry of `run.versions` in order, each as a unit, and removes
// each installed version's packages from the work folder. Returns 1 when all
// were installed; 0 when the client folder is not usable (empty, or "/"), a
// package content file cannot be opened, a file cannot be written (that
// version then leaves the client as it was), a post-install program cannot be
// started, a stop was requested, or anything throws. Entries installed before
// a failure stay installed and recorded. The cause goes to *reason.
int InstallPackages(const InstallationRun& run, std::string* reason = nullptr);

// Before a run: finishes the version that an interrupted installation left in
// the journal of run.workFolder (renames the rest of its files, runs its
// post-install program unless that had run, records it), or, when its renames
// had not begun, removes its temporary files and the folders it created.
// Nothing to do without a journal. 0 with a reason when it could not finish.
int RecoverInstallation(const InstallationRun& run, std::string* reason = nullptr);

// The client folder's post-install program, whatever the letter case of its
// name, or "" when there is none.
std::string FindPostInstallProgram(const std::string& clientFolder);

}  // namespace pelmo
