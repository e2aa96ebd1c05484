// A client's trust in its publisher: the public key file pelmo-upgrade.pub in
// the client folder. When it is there, the manifest must carry a valid
// signature (ADDRESS.minisig) by that key and a SHA256 for every version to
// install; when it cannot be read, nothing is trusted (never a fallback to
// unsigned). Without it the manifest is taken as it comes.
#pragma once

#include <string>
#include <string_view>

#include "platform/transport.h"
#include "settings/manifest.h"
#include "trust/keys.h"

namespace pelmo {

inline constexpr const char* TRUST_ANCHOR_FILE = "pelmo-upgrade.pub";

struct TrustAnchor {
    bool present = false;  // the file exists (or cannot even be looked at)
    bool usable = false;   // and holds a public key
    trust::PublicKey key{};
    std::string problem;  // why a present file is not usable
};

// Reads clientFolder/pelmo-upgrade.pub. An empty clientFolder has no anchor.
TrustAnchor LoadTrustAnchor(const std::string& clientFolder);

// Fetches address + ".minisig" (at most 4 KiB) and verifies document with key.
// False with a reason (missing signature, key id mismatch, bad signature).
bool VerifyManifestSignature(const trust::PublicKey& key, const std::string& address,
                             std::string_view document, const TransferOptions& options,
                             std::string* reason);

// Makes step 1 require what anchor demands (nothing when it is absent).
void RequireTrustAnchor(const TrustAnchor& anchor, const TransferOptions& options,
                        ManifestSettings& settings);

}  // namespace pelmo
