// The manifest step as a client at a given version runs it, for the commands
// that show or check what such a client would get.
#pragma once

#include <cstdint>
#include <string>

#include "install/release_trust.h"
#include "settings/manifest.h"

namespace pelmo::tools {

enum class ClientManifestOutcome { Accepted, Refused, KeyUnusable };

// Fetches and reads the manifest at address for a client at version
// installed; with publicKeyPath, as a client that ships that key (the
// signature must verify, every version to install must carry a SHA256).
// anchor tells whether a key was used. A reason goes to *reason unless the
// manifest was accepted.
ClientManifestOutcome FetchManifestAsClient(const std::string& address, int32_t installed,
                                            const std::string& publicKeyPath, ManifestState& state,
                                            TrustAnchor& anchor, std::string* reason);

}  // namespace pelmo::tools
