#include "tools/release_signing.h"

#include "trust/keys.h"
#include "trust/signature.h"

namespace pelmo::tools {

struct ManifestSigner::Key {
    trust::SecretKey secret;
};

ManifestSigner::ManifestSigner() = default;
ManifestSigner::~ManifestSigner() = default;

bool ManifestSigner::Load(const std::string& secretKeyFile, std::string* reason) {
    auto key = std::make_unique<Key>();
    if (!trust::LoadSecretKeyFile(secretKeyFile, key->secret, reason)) return false;
    key_ = std::move(key);
    return true;
}

bool ManifestSigner::Sign(std::string_view manifest, const std::string& name,
                          std::string& signature, std::string* reason) const {
    return trust::SignData(key_->secret, manifest, name, "", signature, reason);
}

bool ManifestSigner::Signs(std::string_view manifest, std::string_view signature) const {
    std::string ignored;
    return trust::VerifySignature(trust::PublicKeyOf(key_->secret), manifest, signature, &ignored);
}

}  // namespace pelmo::tools
