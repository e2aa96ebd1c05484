// Step 3 of an upgrade run: every pending package is fetched into the work
// folder and unpacked there, in the order of the list.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/download_progress_sink.h"
#include "platform/transport.h"
#include "settings/version_entry.h"

namespace pelmo {

// The run's data the step reads and writes.
struct DownloadRun {
    const std::vector<VersionEntry>& versions;    // pending, ascending id
    const std::string& packageBaseUrl;            // the manifest's SrcPath
    std::atomic<int32_t>& currentPackageBytes;    // declared size of the package in transfer
    std::atomic<int32_t>& completedPackageBytes;  // declared sizes of the packages done
    // Set when the step fails because a package's SHA-256 differs from its
    // manifest value (not because of the network).
    bool* hashMismatch = nullptr;
};

// Unpacks the cabinet at cabinetPath into folder (ending in "/"). Its result
// is not looked at: a package that does not unpack shows up in the
// installation step, which cannot find its content.
using PackageUnpacker =
    std::function<void(const std::string& folder, const std::string& cabinetPath)>;

// Unpacks with the program's cabinet extractor.
void UnpackWithCabinetExtractor(const std::string& folder, const std::string& cabinetPath);

// The package file name of a version: the id in plain decimal and ".cab".
std::string PackageFileName(int32_t id);

// The package address of a version: base, a "/" when base does not end in
// one, and the package file name.
std::string PackageAddress(const std::string& base, int32_t id);

// Whether the file at path is a whole package for entry, so that it need not
// be fetched again: its size equals the declared CABSIZE and, where the
// manifest gives a SHA256, its hash matches.
bool IsCompletePackage(const std::string& path, const VersionEntry& entry);

// Prepares workFolder (see PrepareWorkFolder; a folder that fails its checks
// fails the step) and removes its stale partial downloads, then for each entry
// of run.versions in order sets currentPackageBytes, fetches the package into
// workFolder (progress to sink, which may be null; retries and the resumption
// of a partial file as FetchToFile does them with options) unless a complete
// one is there already (see IsCompletePackage), removes the old N.pak, unpacks
// the package with unpack
// and adds currentPackageBytes to
// completedPackageBytes. Both counters start at 0. Answers 1 when every
// package was fetched, 0 at the first one that was not (the rest are not
// requested; packages done before stay) or on any other failure. A package
// whose entry carries a sha256 is hashed while it downloads; when the hash
// differs, the package file is removed before anything unpacks it and the step
// fails. A reason
// goes to *reason when given. Never throws.
int DownloadPackages(const DownloadRun& run, const DownloadProgressSink* sink,
                     const PackageUnpacker& unpack, const std::string& workFolder,
                     const TransferOptions& options = {}, std::string* reason = nullptr);

}  // namespace pelmo
