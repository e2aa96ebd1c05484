// Signing the manifest (minisign formats).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace pelmo::tools {

class ManifestSigner {
  public:
    ManifestSigner();
    ~ManifestSigner();
    ManifestSigner(const ManifestSigner&) = delete;
    ManifestSigner& operator=(const ManifestSigner&) = delete;

    // Loads a secret key file (its password from PELMO_KEY_PASSWORD or the
    // terminal when it is encrypted). False with a reason on failure.
    bool Load(const std::string& secretKeyFile, std::string* reason);
    // The signature file text for a manifest published under name.
    bool Sign(std::string_view manifest, const std::string& name, std::string& signature,
              std::string* reason) const;
    // Whether signature is this key's valid signature of manifest.
    bool Signs(std::string_view manifest, std::string_view signature) const;

  private:
    struct Key;
    std::unique_ptr<Key> key_;
};

}  // namespace pelmo::tools
