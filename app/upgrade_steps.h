// The step operations of an upgrade run, as seams: the engine calls whatever
// functions it was built with. The program uses DefaultUpgradeSteps(); tests
// pass their own.
#pragma once

#include <functional>
#include <string>

namespace pelmo {

class UpgradeEngine;

// Each step takes the engine of the run (its data: versions, packageBaseUrl,
// counters, cancelRequested, notifyWindow) and answers 1 (or nonzero) for
// success, 0 for failure. A step catches everything inside it; the worker still
// survives an exception that escapes (the run then ends without a notification).
// A step that fails leaves its cause with UpgradeEngine::SetFailureReason.
// An empty member counts as a step that answers 0.
struct UpgradeSteps {
    using Step = std::function<int(UpgradeEngine&)>;

    Step fetchManifest;     // step 1: fill versions, packageBaseUrl, latestVersion, totals
    Step hasNewerVersion;   // step 2: installedVersion < latestVersion
    Step downloadPackages;  // step 3: fetch and unpack every entry of versions
    Step isClientRunning;   // between steps 3 and 4: nonzero while the client runs
    Step installPackages;   // step 4: copy every package into the client folder
    Step launchClient;      // step 5: release the instance guard, start the client

    // Receives the run's short log (several lines) once the run is over.
    // Empty: the log is not kept.
    std::function<void(const std::string&)> writeLog;
};

// The real steps of the program (app/default_upgrade_steps.cpp wires each
// subsystem's step function to the engine's data).
UpgradeSteps DefaultUpgradeSteps();

// Once before the program's first run: finishes or undoes an installation
// that an interrupted upgrader left behind (RecoverInstallation); a failure
// goes to the log.
void RecoverInterruptedInstallation();

}  // namespace pelmo
