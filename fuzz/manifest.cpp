// Fuzzes the reading of an upgrade manifest: decoding, parsing, the acceptance
// rules and the choice of versions. The first byte picks the installed version.
#include "settings/manifest.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int32_t threshold = static_cast<int8_t>(data[0]) * 1000;
    const std::string_view document(reinterpret_cast<const char*>(data + 1), size - 1);
    pelmo::ManifestState state;
    state.installedVersion = state.latestVersion = threshold;
    std::string reason;
    const int accepted = pelmo::ReadManifest(document, threshold, state, &reason);
    if (accepted == 0 && reason.empty()) std::abort();
    if (accepted == 1) {
        const auto byId = [](const pelmo::VersionEntry& a, const pelmo::VersionEntry& b) {
            return a.id < b.id;
        };
        if (!std::is_sorted(state.versions.begin(), state.versions.end(), byId)) std::abort();
        for (const pelmo::VersionEntry& entry : state.versions) {
            if (entry.id <= threshold || entry.id > state.latestVersion) std::abort();
        }
        if (state.versions.empty() != !pelmo::HasNewerVersion(threshold, state.latestVersion)) {
            std::abort();
        }
    }
    return 0;
}
