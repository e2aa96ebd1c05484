// The real steps of an upgrade run. Each subsystem's step function takes the
// run's data as parameters; this file is the one place that hands it the
// engine's fields.
#include <filesystem>

#include "app/instance_checker.h"
#include "app/process_state.h"
#include "app/upgrade_engine.h"
#include "install/client_launch.h"
#include "install/package_installation.h"
#include "settings/client_settings.h"

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
    // Step 4: installation (install/).
    steps.installPackages = [](UpgradeEngine& engine) {
        InstallationRun run;
        run.versions = engine.versions;
        run.workFolder = (std::filesystem::temp_directory_path() / "PELMO_UPGRADE").string() + "/";
        run.clientFolder = ClientSettings::ReadClientFolder();
        run.modulePath = Process().modulePath;
        run.recordVersion = [](int32_t id) { ClientSettings::WriteInstalledVersion(id); };
        return InstallPackages(run);
    };
    // Step 5: client launch (install/): gives up the guard, starts the client.
    steps.launchClient = [](UpgradeEngine&) {
        return LaunchClient(ClientSettings::ReadClientFolder(), ReleaseGuardCallback());
    };
    return steps;
}

}  // namespace pelmo
