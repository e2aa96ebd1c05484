#include "tools/release_signing.h"

namespace pelmo::tools {

namespace {
constexpr const char* UNAVAILABLE = "signing not available in this build";
}  // namespace

struct ManifestSigner::Key {};

ManifestSigner::ManifestSigner() = default;
ManifestSigner::~ManifestSigner() = default;

bool ManifestSigner::Load(const std::string&, std::string* reason) {
    *reason = UNAVAILABLE;
    return false;
}

bool ManifestSigner::Sign(const std::string&, std::string* reason) const {
    *reason = UNAVAILABLE;
    return false;
}

bool ManifestSigner::Signs(const std::string&, std::string_view) const { return false; }

bool VerifyManifestSignature(const std::string&, std::string_view, std::string_view,
                             std::string* reason) {
    *reason = UNAVAILABLE;
    return false;
}

}  // namespace pelmo::tools
