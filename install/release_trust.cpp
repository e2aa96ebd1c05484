#include "install/release_trust.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "trust/signature.h"

namespace pelmo {

TrustAnchor LoadTrustAnchor(const std::string& clientFolder) {
    TrustAnchor anchor;
    if (clientFolder.empty()) return anchor;
    const std::string path = clientFolder + "/" + TRUST_ANCHOR_FILE;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return anchor;
    anchor.present = true;
    anchor.usable = trust::LoadPublicKeyFile(path, anchor.key, &anchor.problem);
    if (!anchor.usable) anchor.problem = "the trusted key cannot be used: " + anchor.problem;
    return anchor;
}

bool VerifyManifestSignature(const trust::PublicKey& key, const std::string& address,
                             std::string_view document, const TransferOptions& options,
                             std::string* reason) {
    const std::string signatureAddress = address + std::string(trust::SIGNATURE_SUFFIX);
    std::string signature;
    const TransferResult fetched =
        FetchToMemory(signatureAddress, trust::MAX_SIGNATURE_FILE_BYTES, signature, options);
    if (!fetched.ok) {
        if (reason != nullptr) {
            *reason = "missing signature: cannot fetch " + signatureAddress + ": " + fetched.error;
        }
        return false;
    }
    std::string why;
    if (!trust::VerifySignature(key, document, signature, &why)) {
        if (reason != nullptr) *reason = "manifest signature refused: " + why;
        return false;
    }
    return true;
}

void RequireTrustAnchor(const TrustAnchor& anchor, const TransferOptions& options,
                        ManifestSettings& settings) {
    if (!anchor.present) return;
    settings.requirePackageHashes = true;
    settings.verifyDocument = [anchor, options](const std::string& address,
                                                std::string_view document, std::string* reason) {
        if (!anchor.usable) {
            if (reason != nullptr) *reason = anchor.problem;
            return false;
        }
        return VerifyManifestSignature(anchor.key, address, document, options, reason);
    };
}

}  // namespace pelmo
