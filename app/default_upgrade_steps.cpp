// The real steps of an upgrade run. Each subsystem's step function takes the
// run's data as parameters; this file is the one place that hands it the
// engine's fields.
#include <utility>

#include "app/instance_checker.h"
#include "app/process_state.h"
#include "app/upgrade_engine.h"
#include "app/upgrade_log.h"
#include "install/client_launch.h"
#include "install/download_progress_sink.h"
#include "install/package_download.h"
#include "install/package_installation.h"
#include "install/release_trust.h"
#include "install/work_folder.h"
#include "settings/client_settings.h"
#include "settings/manifest.h"

namespace pelmo {

namespace {

// What the installation step (and the recovery before a run) work on.
InstallationRun DefaultInstallationRun() {
    InstallationRun run;
    run.workFolder = WorkFolderPath();
    run.clientFolder = ClientSettings::ReadClientFolder();
    run.modulePath = Process().modulePath;
    run.recordVersion = [](int32_t id) { ClientSettings::WriteInstalledVersion(id); };
    return run;
}

}  // namespace

void RecoverInterruptedInstallation() {
    const InstallationRun run = DefaultInstallationRun();
    std::string reason;
    if (!RecoverInstallation(run, &reason))
        AppendUpgradeLog(UpgradeLogPath(), "  unfinished installation: " + reason + "\n");
}

UpgradeSteps DefaultUpgradeSteps() {
    UpgradeSteps steps;
    // Step 1: the manifest (settings/). The step works on a copy of the run's
    // data that goes back into the engine whatever the outcome.
    steps.fetchManifest = [](UpgradeEngine& engine) {
        ManifestState state;
        state.versions = std::move(engine.versions);
        state.packageBaseUrl = std::move(engine.packageBaseUrl);
        ManifestSettings settings{&ClientSettings::ReadInstalledVersion,
                                  &ClientSettings::ReadManifestAddress};
        TransferOptions options;
        options.stopRequested = [&engine] { return engine.cancelRequested.load() != 0; };
        options.retryPausesMs = MANIFEST_RETRY_PAUSES_MS;
        RequireTrustAnchor(LoadTrustAnchor(ClientSettings::ReadClientFolder()), options, settings);
        std::string reason;
        const int result = FetchManifest(state, settings, options, &reason);
        if (!result) engine.SetFailureReason(reason);
        engine.trustCheckFailed.store(state.trustFailed ? 1 : 0);
        engine.versions = std::move(state.versions);
        engine.packageBaseUrl = std::move(state.packageBaseUrl);
        engine.installedVersion = state.installedVersion;
        engine.latestVersion = state.latestVersion;
        engine.totalDownloadBytes.store(state.totalDownloadBytes);
        engine.completedPackageBytes.store(state.completedPackageBytes);
        return result;
    };
    steps.hasNewerVersion = [](UpgradeEngine& engine) {
        return HasNewerVersion(engine.installedVersion, engine.latestVersion) ? 1 : 0;
    };
    // Step 3: download and unpack (install/); progress goes to the attached
    // target through the engine's link, which drops it once the window is gone.
    steps.downloadPackages = [](UpgradeEngine& engine) {
        const DownloadProgressSink sink(engine.cancelRequested, engine.currentPackageBytes,
                                        engine.completedPackageBytes, &engine.notifyWindow);
        bool hashMismatch = false;
        const DownloadRun run{engine.versions, engine.packageBaseUrl, engine.currentPackageBytes,
                              engine.completedPackageBytes, &hashMismatch};
        TransferOptions options;
        options.retryPausesMs = PACKAGE_RETRY_PAUSES_MS;
        std::string reason;
        const int result = DownloadPackages(run, &sink, &UnpackWithCabinetExtractor,
                                            WorkFolderPath(), options, &reason);
        if (!result) engine.SetFailureReason(reason);
        engine.trustCheckFailed.store(hashMismatch ? 1 : 0);
        return result;
    };
    steps.isClientRunning = [](UpgradeEngine&) { return IsClientRunning() ? 1 : 0; };
    // Step 4: installation (install/).
    steps.installPackages = [](UpgradeEngine& engine) {
        InstallationRun run = DefaultInstallationRun();
        run.versions = engine.versions;
        run.cancelRequested = &engine.cancelRequested;
        std::string reason;
        const int result = InstallPackages(run, &reason);
        if (!result) engine.SetFailureReason(reason);
        return result;
    };
    // Step 5: client launch (install/): gives up the guard, starts the client.
    steps.launchClient = [](UpgradeEngine& engine) {
        const std::string folder = ClientSettings::ReadClientFolder();
        const int result = LaunchClient(folder, ReleaseGuardCallback());
        if (!result) engine.SetFailureReason("cannot start " + folder + "/" + CLIENT_PROGRAM);
        return result;
    };
    steps.writeLog = [](const std::string& text) { AppendUpgradeLog(UpgradeLogPath(), text); };
    return steps;
}

}  // namespace pelmo
