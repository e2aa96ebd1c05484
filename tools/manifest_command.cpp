// pelmo-tool manifest [--installed N] [-p PUBFILE] ADDRESS
//
// Loads a manifest as an upgrade run's first step does, for a client at
// version N (default: the VERSION setting), and prints whether it was
// accepted and whether it is signed, then the versions that client would
// download in installation order with their sizes, package addresses and
// SHA-256 values, and the totals. With -p the manifest is checked as a client
// that ships PUBFILE checks it: a valid signature by that key and a SHA256 on
// every version to install. Exit status 1 when the step would fail, 2 on a
// usage error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "install/package_download.h"
#include "install/release_trust.h"
#include "settings/client_settings.h"
#include "settings/manifest.h"
#include "tools/client_manifest.h"
#include "tools/commands.h"
#include "trust/signature.h"

namespace pelmo::tools {
namespace {

constexpr const char* USAGE =
    "usage: pelmo-tool manifest [--installed N] [-p PUBFILE] ADDRESS\n"
    "  Shows what a client at version N (default: the installed VERSION setting)\n"
    "  would download from the manifest at ADDRESS (http, https, file URL or path),\n"
    "  and whether ADDRESS.minisig signs it. With -p the signature must verify with\n"
    "  the public key PUBFILE and every version to install must carry a SHA256.\n";

bool ParseVersion(const std::string& text, int32_t& version) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    version = static_cast<int32_t>(value);
    return true;
}

// Whether ADDRESS.minisig exists, and by which key, without checking it.
std::string DescribeSignature(const std::string& address) {
    const std::string signatureAddress = address + std::string(trust::SIGNATURE_SUFFIX);
    std::string text;
    const TransferResult fetched =
        FetchToMemory(signatureAddress, trust::MAX_SIGNATURE_FILE_BYTES, text);
    if (!fetched.ok) return "none (" + signatureAddress + ": " + fetched.error + ")";
    trust::SignatureFile signature;
    std::string reason;
    if (!trust::ParseSignatureFile(text, signature, &reason)) return "unreadable: " + reason;
    return "present, key " + trust::KeyIdText(signature.keyId) + ", not verified (give -p PUBFILE)";
}

}  // namespace

int RunManifestCommand(const Args& args) {
    std::string address;
    std::string publicKeyPath;
    bool haveInstalled = false;
    int32_t installed = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--installed") {
            if (i + 1 >= args.size() || !ParseVersion(args[i + 1], installed)) {
                std::fputs("pelmo-tool manifest: --installed needs a 32-bit number\n", stderr);
                return 2;
            }
            haveInstalled = true;
            ++i;
        } else if (arg == "-p" && i + 1 < args.size()) {
            publicKeyPath = args[++i];
        } else if (address.empty() && (arg.empty() || arg[0] != '-' || arg == "-")) {
            address = arg;
        } else {
            std::fprintf(stderr, "pelmo-tool manifest: unexpected argument '%s'\n%s", arg.c_str(),
                         USAGE);
            return 2;
        }
    }
    if (address.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (!haveInstalled) installed = ClientSettings::ReadInstalledVersion();

    ManifestState state;
    TrustAnchor anchor;
    std::string reason;
    switch (FetchManifestAsClient(address, installed, publicKeyPath, state, anchor, &reason)) {
        case ClientManifestOutcome::KeyUnusable:
            std::fprintf(stderr, "pelmo-tool manifest: %s\n", reason.c_str());
            return 2;
        case ClientManifestOutcome::Refused:
            std::printf("manifest: refused: %s\n", reason.c_str());
            return 1;
        case ClientManifestOutcome::Accepted:
            break;
    }
    std::printf("manifest: accepted\n");
    std::printf("signature: %s\n",
                anchor.usable ? ("verified with key " + trust::KeyIdText(anchor.key.keyId)).c_str()
                              : DescribeSignature(address).c_str());
    std::printf("installed version: %d\n", static_cast<int>(state.installedVersion));
    std::printf("package base address: %s\n", state.packageBaseUrl.c_str());
    if (!HasNewerVersion(state.installedVersion, state.latestVersion)) {
        std::printf("nothing newer than version %d\n", static_cast<int>(state.installedVersion));
        return 0;
    }
    std::printf("to download, in installation order:\n");
    for (const VersionEntry& entry : state.versions) {
        std::printf("  %d  %d bytes  %s%s%s\n", static_cast<int>(entry.id),
                    static_cast<int>(entry.packageBytes),
                    PackageAddress(state.packageBaseUrl, entry.id).c_str(),
                    entry.sha256.empty() ? "" : "  sha256 ", entry.sha256.c_str());
    }
    std::printf("total: %zu packages, %d bytes; latest version %d\n", state.versions.size(),
                static_cast<int>(state.totalDownloadBytes), static_cast<int>(state.latestVersion));
    return 0;
}

}  // namespace pelmo::tools
