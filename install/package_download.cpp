#include "install/package_download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "install/cabinet_extractor.h"
#include "install/work_folder.h"

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
    return entry.packageBytes > 0 && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_size == entry.packageBytes;
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
                const TransferResult fetched = FetchToFile(address, local, progress, options);
                if (!fetched.ok) {
                    if (reason != nullptr)
                        *reason = "cannot fetch " + address + ": " + fetched.error;
                    return 0;
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
