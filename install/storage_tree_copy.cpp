#include "install/storage_tree_copy.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "install/file_utils.h"
#include "install/replacement_file.h"

namespace pelmo {

namespace {

using platform::CompoundElement;
using platform::CompoundElementKind;

bool SafeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The running program's file, by name (letter case ignored) or by identity.
bool IsModule(const std::string& target, const StorageCopyOptions& options) {
    if (options.modulePath.empty()) return false;
    if (::strcasecmp(target.c_str(), options.modulePath.c_str()) == 0) return true;
    struct stat a {
    }, b{};
    return ::stat(target.c_str(), &a) == 0 && ::stat(options.modulePath.c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool Executable(const unsigned char* data, std::size_t count) {
    return (count >= 4 && std::memcmp(data,
                                      "\x7f"
                                      "ELF",
                                      4) == 0) ||
           (count >= 2 && data[0] == '#' && data[1] == '!');
}

class Copier {
  public:
    Copier(const StorageCopyOptions& options, StorageCopyReport* report)
        : options_(options), report_(report) {}

    void CopyTree(const platform::CompoundStorage& storage, std::string folder) {
        folder = WithTrailingSeparator(std::move(folder));
        std::error_code ignored;
        if (std::filesystem::create_directories(folder, ignored) && report_) ++report_->folders;
        for (const CompoundElement& element : storage.Children()) {
            if (element.kind == CompoundElementKind::Other) continue;
            if (!SafeName(element.name)) {
                Problem(folder + element.name + ": name would leave its folder; skipped");
                continue;
            }
            const std::string target = folder + element.name;
            std::string error;
            if (element.kind == CompoundElementKind::Storage) {
                auto child = storage.OpenStorage(element, &error);
                if (!child) return Problem(target + ": " + error + "; rest of folder skipped");
                CopyTree(*child, target);
                continue;
            }
            auto stream = storage.OpenStream(element, &error);
            if (!stream) return Problem(target + ": " + error + "; rest of folder skipped");
            if (IsModule(target, options_)) {
                Problem(target + ": the running program; skipped");
                continue;
            }
            if (!CopyStream(*stream, target)) return;
        }
    }

  private:
    // False when the target could not be created (ends the tree level).
    bool CopyStream(platform::CompoundStream& stream, const std::string& target) {
        std::ptrdiff_t count = stream.Read(buffer_, sizeof buffer_);
        if (count < 0) {
            Problem(target + ": " + stream.Error() + "; old file kept");
            return true;
        }
        const bool executable = Executable(buffer_, static_cast<std::size_t>(count));
        ReplacementFile file;
        std::string error;
        if (!file.Create(target, executable ? 0755 : 0644, &error)) {
            Problem(error + "; rest of folder skipped");
            return false;
        }
        std::uint64_t bytes = 0;
        while (count > 0) {
            if (!file.Write(buffer_, static_cast<std::size_t>(count))) {
                Problem(target + ": write failed; old file kept");
                return true;
            }
            bytes += static_cast<std::uint64_t>(count);
            count = stream.Read(buffer_, sizeof buffer_);
        }
        if (count < 0) {
            Problem(target + ": " + stream.Error() + "; old file kept");
            return true;
        }
        if (!file.Commit(options_.durable, &error)) {
            Problem(error + "; rest of folder skipped");
            return false;
        }
        if (report_) {
            ++report_->files;
            report_->bytes += bytes;
        }
        return true;
    }

    void Problem(std::string text) {
        if (report_) report_->problems.push_back(std::move(text));
    }

    const StorageCopyOptions& options_;
    StorageCopyReport* report_;
    unsigned char buffer_[COPY_BUFFER_SIZE];
};

}  // namespace

void CopyStorageTree(const platform::CompoundStorage& storage, const std::string& folder,
                     const StorageCopyOptions& options, StorageCopyReport* report) {
    Copier(options, report).CopyTree(storage, folder);
}

}  // namespace pelmo
