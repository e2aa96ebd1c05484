#include "tools/publish_check.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "install/cabinet_extractor.h"
#include "install/package_download.h"
#include "platform/compound_file_reader.h"
#include "platform/transport.h"
#include "settings/manifest.h"
#include "tools/client_manifest.h"
#include "tools/release_tree.h"
#include "trust/keys.h"
#include "trust/sha256.h"
#include "trust/signature.h"

namespace pelmo::tools {

namespace {

namespace fs = std::filesystem;
using platform::CompoundElementKind;
using platform::CompoundStorage;

constexpr const char* USAGE =
    "usage: pelmo-tool publish check --installed N [-p PUBFILE] ADDRESS\n";

int Failed(const std::string& what) {
    std::printf("check: FAILED: %s\n", what.c_str());
    return 1;
}

// A private folder for the downloads, removed with its content at the end.
class ScratchFolder {
  public:
    bool Create(std::string* error) {
        std::error_code failure;
        std::string pattern = (fs::temp_directory_path(failure) / "pelmo-check-XXXXXX").string();
        if (failure || ::mkdtemp(pattern.data()) == nullptr) {
            *error = "cannot make a temporary folder";
            return false;
        }
        path_ = pattern;
        return true;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Lists every stream below storage and reads it to its end, as the
// installation would. False with a reason for a damaged element.
bool ListContent(const CompoundStorage& storage, const std::string& prefix, uint64_t& files,
                 std::string* error) {
    for (const auto& element : storage.Children()) {
        const std::string name = prefix + element.name;
        if (element.kind == CompoundElementKind::Storage) {
            auto child = storage.OpenStorage(element, error);
            if (!child) return false;
            if (!ListContent(*child, name + "/", files, error)) return false;
        } else if (element.kind == CompoundElementKind::Stream) {
            auto stream = storage.OpenStream(element, error);
            if (!stream) return false;
            std::vector<char> buffer(1 << 16);
            std::ptrdiff_t n;
            while ((n = stream->Read(buffer.data(), buffer.size())) > 0) {
            }
            if (n < 0) {
                *error = name + ": " + stream->Error();
                return false;
            }
            std::printf("    %12" PRIu64 "  %s%s\n", element.size, name.c_str(),
                        name == "PelmoUpgrade.exe" ? "  (post-install program)" : "");
            ++files;
        }
    }
    return true;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Fetches, checks and opens one package as a client would.
bool CheckPackage(const ManifestState& state, const VersionEntry& entry, const std::string& scratch,
                  std::string* error) {
    const std::string number = std::to_string(entry.id);
    const std::string address = PackageAddress(state.packageBaseUrl, entry.id);
    const std::string cabinet = scratch + "/" + PackageFileName(entry.id);
    std::printf("%s: %s\n", number.c_str(), address.c_str());
    const TransferResult fetched = FetchToFile(address, cabinet, {});
    if (!fetched.ok) {
        *error = number + ": cannot fetch " + address + ": " + fetched.error;
        return false;
    }
    std::error_code failure;
    const uint64_t size = fs::file_size(cabinet, failure);
    if (failure || size != static_cast<uint64_t>(static_cast<uint32_t>(entry.packageBytes))) {
        *error = number + ": the package has " + std::to_string(size) +
                 " bytes, the manifest says " + std::to_string(entry.packageBytes);
        return false;
    }
    std::string hash;
    if (!trust::Sha256OfFile(cabinet, hash, error)) return false;
    if (!entry.sha256.empty() && !EqualIgnoringCase(hash, entry.sha256)) {
        *error =
            number + ": the package's SHA-256 is " + hash + ", the manifest says " + entry.sha256;
        return false;
    }
    std::printf("  %" PRIu64 " bytes, sha256 %s%s\n", size, hash.c_str(),
                entry.sha256.empty() ? " (the manifest gives none)" : ", as the manifest says");

    const std::string folder = scratch + "/" + number + "/";
    install::CabinetExtractor extractor;
    extractor.SetDestinationFolder(folder);
    fs::create_directories(folder, failure);
    if (extractor.Extract(cabinet) == 0) {
        *error = number + ": the cabinet does not unpack";
        return false;
    }
    const std::string pak = folder + number + ".pak";
    auto content = platform::CompoundFile::Open(pak, error);
    if (!content) {
        *error = number + ": " + number + ".pak: " + *error;
        return false;
    }
    uint64_t files = 0;
    std::printf("  files it writes:\n");
    if (!ListContent(content->Root(), "", files, error)) {
        *error = number + ": " + number + ".pak: " + *error;
        return false;
    }
    std::printf("  %" PRIu64 " files\n", files);
    content.reset();
    fs::remove_all(folder, failure);
    fs::remove(cabinet, failure);
    return true;
}

}  // namespace

int RunPublishCheck(const Args& args) {
    std::string address, publicKey;
    int32_t installed = 0;
    bool haveInstalled = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--installed" && hasValue) {
            if (!ParseVersionId(args[++i], installed)) {
                std::fputs("pelmo-tool publish check: --installed needs a 32-bit number\n", stderr);
                return 2;
            }
            haveInstalled = true;
        } else if (args[i] == "-p" && hasValue) {
            publicKey = args[++i];
        } else if (address.empty() && !args[i].empty() && args[i][0] != '-') {
            address = args[i];
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    if (!haveInstalled || address.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }

    // The manifest step exactly as a client runs it; with -p as a client that
    // ships that key as its trust anchor.
    ManifestState state;
    TrustAnchor anchor;
    std::string reason;
    switch (FetchManifestAsClient(address, installed, publicKey, state, anchor, &reason)) {
        case ClientManifestOutcome::KeyUnusable:
            return Failed(publicKey + ": " + reason);
        case ClientManifestOutcome::Refused:
            return Failed("manifest: refused: " + reason);
        case ClientManifestOutcome::Accepted:
            break;
    }
    std::string signature;
    if (anchor.usable) {
        std::printf("manifest: accepted, signature verified with key %s\n",
                    trust::KeyIdText(anchor.key.keyId).c_str());
    } else if (FetchToMemory(address + std::string(trust::SIGNATURE_SUFFIX),
                             trust::MAX_SIGNATURE_FILE_BYTES, signature)
                   .ok) {
        std::printf("manifest: accepted, signed (not verified: no -p PUBFILE given)\n");
    } else {
        std::printf("manifest: accepted, not signed\n");
    }
    std::printf("%zu versions newer than %d\n", state.versions.size(), static_cast<int>(installed));

    ScratchFolder scratch;
    if (!scratch.Create(&reason)) return Failed(reason);
    for (const VersionEntry& entry : state.versions) {
        if (!CheckPackage(state, entry, scratch.path(), &reason)) return Failed(reason);
    }
    std::printf("check: passed: a client at %d would install %zu versions, up to %d\n",
                static_cast<int>(installed), state.versions.size(),
                static_cast<int>(state.latestVersion));
    return 0;
}

}  // namespace pelmo::tools
