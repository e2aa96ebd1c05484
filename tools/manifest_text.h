// The text of an upgrade manifest as 'publish' writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelmo::tools {

struct ManifestVersion {
    int32_t id = 0;
    std::uint64_t cabinetBytes = 0;  // at most INT32_MAX
    std::string sha256;
};

// The declaration, the root "versions" with SrcPath = baseUrl, and one
// "version" element (ID, CABSIZE, SHA256) per entry in the given order.
std::string ManifestText(const std::string& baseUrl, const std::vector<ManifestVersion>& versions);

// Whether text is an http or https URL with a host, free of white space,
// control characters, a query and a fragment (package names are appended).
bool IsPublishableBaseUrl(const std::string& text);

}  // namespace pelmo::tools
