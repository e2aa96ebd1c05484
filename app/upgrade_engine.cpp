#include "app/upgrade_engine.h"

#include <utility>

#include "settings/client_settings.h"

namespace pelmo {

UpgradeEngineBase::UpgradeEngineBase() : installedVersion(ClientSettings::ReadInstalledVersion()) {}

bool UpgradeEngineBase::ReadAutoCheck() const { return ClientSettings::ReadAutoCheck(); }

UpgradeEngine::UpgradeEngine() : UpgradeEngine(DefaultUpgradeSteps()) {}

UpgradeEngine::UpgradeEngine(UpgradeSteps steps) : steps_(std::move(steps)) {}

UpgradeEngine::~UpgradeEngine() = default;

namespace {

int RunStep(const UpgradeSteps::Step& step, UpgradeEngine& engine) {
    return step ? step(engine) : 0;
}

}  // namespace

int UpgradeEngine::FetchManifest() {
    // Every run starts from an empty list and zero counters, whatever an
    // earlier run left behind.
    versions.clear();
    packageBaseUrl.clear();
    installedVersion = ClientSettings::ReadInstalledVersion();
    latestVersion = installedVersion;
    totalDownloadBytes.store(0);
    completedPackageBytes.store(0);
    trustCheckFailed.store(0);
    return RunStep(steps_.fetchManifest, *this);
}
int UpgradeEngine::HasNewerVersion() { return RunStep(steps_.hasNewerVersion, *this); }
int UpgradeEngine::DownloadPackages() { return RunStep(steps_.downloadPackages, *this); }
int UpgradeEngine::IsClientRunning() { return RunStep(steps_.isClientRunning, *this); }
int UpgradeEngine::InstallPackages() { return RunStep(steps_.installPackages, *this); }
int UpgradeEngine::LaunchClient() { return RunStep(steps_.launchClient, *this); }

}  // namespace pelmo
