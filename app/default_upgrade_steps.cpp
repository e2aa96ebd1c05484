// The real steps of an upgrade run. Each subsystem's step function takes the
// run's data as parameters; this file is the one place that hands it the
// engine's fields.
#include "app/instance_checker.h"
#include "app/process_state.h"
#include "app/upgrade_engine.h"

namespace pelmo {

UpgradeSteps DefaultUpgradeSteps() {
    UpgradeSteps steps;
    // Step 1: the manifest (settings/). Not wired yet: fails.
    steps.fetchManifest = [](UpgradeEngine&) { return 0; };
    steps.hasNewerVersion = [](UpgradeEngine& engine) {
        return engine.installedVersion < engine.latestVersion ? 1 : 0;
    };
    // Step 3: download and unpack (install/). Not wired yet: fails.
    steps.downloadPackages = [](UpgradeEngine&) { return 0; };
    steps.isClientRunning = [](UpgradeEngine&) { return IsClientRunning() ? 1 : 0; };
    // Step 4: installation (install/), reads Process().modulePath. Not wired yet: fails.
    steps.installPackages = [](UpgradeEngine&) { return 0; };
    // Step 5: client launch (install/), given ReleaseGuardCallback(). Not wired
    // yet: gives up the guard and fails.
    steps.launchClient = [](UpgradeEngine&) {
        ReleaseGuardCallback()();
        return 0;
    };
    return steps;
}

}  // namespace pelmo
