// The upgrade manifest: loading it (step 1 of a run) and the choice of the
// versions to install (step 2), as functions of the run's data.
//
// The manifest is an XML document: an XML declaration, then the root element
// "versions" whose attribute "SrcPath" is the base address of the packages,
// with children "version" carrying the decimal attributes "ID" and "CABSIZE".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/transport.h"
#include "settings/version_entry.h"

namespace pelmo {

// A manifest larger than this is refused.
inline constexpr std::size_t MAX_MANIFEST_BYTES = std::size_t{4} << 20;

// The run's data that step 1 fills; the engine's fields of the same names.
struct ManifestState {
    std::vector<VersionEntry> versions;  // kept entries, ascending by id
    std::string packageBaseUrl;          // the root's "SrcPath"
    int32_t installedVersion = 0;
    int32_t latestVersion = 0;
    int32_t totalDownloadBytes = 0;
    int32_t completedPackageBytes = 0;
    // The step failed a trust check (the manifest's signature, a missing or
    // malformed SHA256), not the network or the document's form.
    bool trustFailed = false;
};

// What step 1 reads from the client settings.
struct ManifestSettings {
    std::function<int32_t()> readInstalledVersion;     // "VERSION", 0 when absent
    std::function<std::string()> readManifestAddress;  // "UPGRADECFGFILE", trimmed
    // A client that trusts a publisher's key checks the fetched bytes before
    // they are parsed (false with a reason refuses them) and requires a
    // SHA256 on every kept version. Empty: no check.
    std::function<bool(const std::string& address, std::string_view document, std::string* reason)>
        verifyDocument{};
    bool requirePackageHashes = false;
};

// Step 1. Resets the run's data first (those resets stay even when the step
// fails), fetches the manifest named by the settings and keeps every "version"
// whose ID is greater than the installed version. 1 when the manifest was
// loaded and its root accepted (also when it offers nothing newer), else 0; a
// reason for the failure goes to *reason when given. Never throws.
int FetchManifest(ManifestState& state, const ManifestSettings& settings,
                  const TransferOptions& options = {}, std::string* reason = nullptr);

// The part of step 1 after the fetch: parses document, accepts its root, sets
// packageBaseUrl and appends the "version" entries whose ID is greater than
// threshold, updating latestVersion and totalDownloadBytes, then sorts. A kept
// entry's "SHA256", when present, must be 64 hexadecimal digits; with
// requireHashes it must be present. The caller has reset the state. 1 or 0 as
// FetchManifest. Never throws.
int ReadManifest(std::string_view document, int32_t threshold, ManifestState& state,
                 std::string* reason = nullptr, bool requireHashes = false);

// Step 2: whether anything newer than the installed version was offered.
bool HasNewerVersion(int32_t installedVersion, int32_t latestVersion);

// A decimal number as the C library's atol reads it: leading white space,
// an optional sign, then digits up to the first other character; 0 when no
// digit follows. Values beyond 32 bits saturate.
int32_t ReadDecimal(const char* text);

}  // namespace pelmo
