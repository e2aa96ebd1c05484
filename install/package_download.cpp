#include "install/package_download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

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

bool IsCompletePackage(const std::string& path, const VersionEntry& entry) {
    struct stat info {};
    if (entry.packageBytes <= 0 || ::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != entry.packageBytes) {
        return false;
    }
    std::string actual;
    return entry.sha256.empty() || (trust::Sha256OfFile(path, actual, nullptr) && actual == entry.sha256);
}

int DownloadPackages(const DownloadRun& run, const DownloadProgressSink* sink,
                     const PackageUnpacker& unpack, const std::string& workFolder,
                     const TransferOptions& options, std::string* reason) {
    try {
        std::string folder = workFolder;
        if (folder.empty() || folder.back() != '/') folder += '/';
        if (!PrepareWorkFolder(folder, reason)) return 0;
        RemoveStalePartialDownloads(folder);

        run.currentPackageBytes = 0;
        run.completedPackageBytes = 0;
        const TransferProgress progress =
            sink != nullptr ? sink->AsTransferProgress() : TransferProgress();
        for (const VersionEntry& entry : run.versions) {
            run.currentPackageBytes = entry.packageBytes;
            const std::string local = folder + PackageFileName(entry.id);
            const std::string address = PackageAddress(run.packageBaseUrl, entry.id);
            if (!IsCompletePackage(local, entry)) {
                // The hash covers the resource from its first byte: a resumed
                // file's bytes on disk are handed over first, and a download
                // that starts again from zero starts a new hash.
                std::optional<trust::Sha256> hash;
                hash.emplace();
                TransferOptions hashed = options;
                if (!entry.sha256.empty()) {
                    hashed.dataObserver = [&hash](const char* data, std::size_t size) {
                        hash->Update(data, size);
                    };
                    hashed.dataRestarted = [&hash] { hash.emplace(); };
                }
                const TransferResult fetched = FetchToFile(address, local, progress, hashed);
                if (!fetched.ok) {
                    if (reason != nullptr)
                        *reason = "cannot fetch " + address + ": " + fetched.error;
                    return 0;
                }
                if (!entry.sha256.empty()) {
                    const std::string actual = hash->FinishHex();
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
            }
            // A failed unpack must not leave an older content to be installed.
            const std::string content = folder + std::to_string(entry.id) + ".pak";
            if (::unlink(content.c_str()) != 0 && errno != ENOENT) {
                if (reason != nullptr)
                    *reason = "cannot remove " + content + ": " + std::strerror(errno);
                return 0;
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
