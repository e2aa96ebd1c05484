#include "install/package_download.h"

#include <cstdio>

#include "install/cabinet_extractor.h"
#include "install/work_folder.h"
#include "trust/sha256.h"

namespace pelmo {

std::string PackageFileName(int32_t id) { return std::to_string(id) + ".cab"; }

std::string PackageAddress(const std::string& base, int32_t id) {
    std::string address = base;
    if (address.empty() || address.back() != '/') address += '/';
    return address + PackageFileName(id);
}

void UnpackWithCabinetExtractor(const std::string& folder, const std::string& cabinetPath) {
    install::CabinetExtractor extractor;
    extractor.SetDestinationFolder(folder);
    extractor.Extract(cabinetPath);
}

int DownloadPackages(const DownloadRun& run, const DownloadProgressSink* sink,
                     const PackageUnpacker& unpack, const std::string& workFolder,
                     const TransferOptions& options, std::string* reason) {
    try {
        std::string folder = workFolder;
        if (folder.empty() || folder.back() != '/') folder += '/';
        if (!PrepareWorkFolder(folder, reason)) return 0;

        run.currentPackageBytes = 0;
        run.completedPackageBytes = 0;
        const TransferProgress progress =
            sink != nullptr ? sink->AsTransferProgress() : TransferProgress();
        for (const VersionEntry& entry : run.versions) {
            run.currentPackageBytes = entry.packageBytes;
            const std::string local = folder + PackageFileName(entry.id);
            const std::string address = PackageAddress(run.packageBaseUrl, entry.id);
            trust::Sha256 hash;
            TransferOptions hashed = options;
            if (!entry.sha256.empty()) {
                hashed.dataObserver = [&hash](const char* data, std::size_t size) {
                    hash.Update(data, size);
                };
            }
            const TransferResult fetched = FetchToFile(address, local, progress, hashed);
            if (!fetched.ok) {
                if (reason != nullptr) *reason = "cannot fetch " + address + ": " + fetched.error;
                return 0;
            }
            if (!entry.sha256.empty()) {
                const std::string actual = hash.FinishHex();
                if (actual != entry.sha256) {
                    std::remove(local.c_str());
                    if (run.hashMismatch != nullptr) *run.hashMismatch = true;
                    if (reason != nullptr) {
                        *reason = "hash mismatch: " + address + " has SHA-256 " + actual +
                                  ", the manifest says " + entry.sha256;
                    }
                    return 0;
                }
            }
            if (unpack) unpack(folder, local);
            run.completedPackageBytes += run.currentPackageBytes.load();
        }
        return 1;
    } catch (...) {
        if (reason != nullptr) *reason = "out of memory";
        return 0;
    }
}

}  // namespace pelmo
