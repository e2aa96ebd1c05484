#include "tools/client_manifest.h"

#include "trust/keys.h"

namespace pelmo::tools {

ClientManifestOutcome FetchManifestAsClient(const std::string& address, int32_t installed,
                                            const std::string& publicKeyPath, ManifestState& state,
                                            TrustAnchor& anchor, std::string* reason) {
    ManifestSettings settings;
    settings.readInstalledVersion = [installed] { return installed; };
    settings.readManifestAddress = [&address] { return address; };
    anchor = TrustAnchor{};
    if (!publicKeyPath.empty()) {
        anchor.present = true;
        anchor.usable = trust::LoadPublicKeyFile(publicKeyPath, anchor.key, reason);
        if (!anchor.usable) return ClientManifestOutcome::KeyUnusable;
        RequireTrustAnchor(anchor, {}, settings);
    }
    return FetchManifest(state, settings, {}, reason) != 0 ? ClientManifestOutcome::Accepted
                                                           : ClientManifestOutcome::Refused;
}

}  // namespace pelmo::tools
