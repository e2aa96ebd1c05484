#include "install/storage_tree_copy.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
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

    bool failed() const { return failed_; }

    void CopyTree(const platform::CompoundStorage& storage, std::string folder) {
        folder = WithTrailingSeparator(std::move(folder));
        if (!MakeFolder(folder)) return;
        for (const CompoundElement& element : storage.Children()) {
            if (failed_) return;
            if (element.kind == CompoundElementKind::Other) continue;
            if (!SafeName(element.name)) {
                Problem(folder + element.name + ": name would leave its folder; skipped");
                continue;
            }
            const std::string target = folder + element.name;
            std::string error;
            if (element.kind == CompoundElementKind::Storage) {
                auto child = storage.OpenStorage(element, &error);
                if (!child) return Fail(target + ": " + error, "; rest of folder skipped");
                CopyTree(*child, target);
                continue;
            }
            auto stream = storage.OpenStream(element, &error);
            if (!stream) return Fail(target + ": " + error, "; rest of folder skipped");
            if (IsModule(target, options_)) {
                Problem(target + ": the running program; skipped");
                continue;
            }
            if (!CopyStream(*stream, target)) return;
        }
    }

  private:
    bool Staging() const { return static_cast<bool>(options_.onTemporaryFile); }

    // Creates folder and its missing parents. Staging: false, and the copy
    // fails, when it cannot be made; every folder made is reported.
    bool MakeFolder(const std::string& folder) {
        if (!Staging()) {
            std::error_code ignored;
            if (std::filesystem::create_directories(folder, ignored) && report_) ++report_->folders;
            return true;
        }
        std::vector<std::string> missing;
        std::string path = folder;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        struct stat st {};
        while (!path.empty() && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
            missing.push_back(path);
            const auto slash = path.rfind('/');
            path = slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (::mkdir(it->c_str(), 0777) != 0) {
                Fail("cannot create the folder " + *it + ": " + std::strerror(errno));
                return false;
            }
            if (options_.onFolderCreated) options_.onFolderCreated(*it);
            if (report_) ++report_->folders;
        }
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            Fail("cannot create the folder " + folder + ": something else stands there");
            return false;
        }
        return true;
    }

    // False when the target could not be created (ends the tree level).
    bool CopyStream(platform::CompoundStream& stream, const std::string& target) {
        std::ptrdiff_t count = stream.Read(buffer_, sizeof buffer_);
        if (count < 0) return ReadFailed(target, stream);
        const bool executable = Executable(buffer_, static_cast<std::size_t>(count));
        ReplacementFile file;
        std::string error;
        if (!file.Create(target, executable ? 0755 : 0644, &error)) {
            Fail(error, "; rest of folder skipped");
            return false;
        }
        if (Staging() && !options_.onTemporaryFile(file.temporaryPath(), target)) {
            Fail(target + ": cannot note the file in the journal");
            return false;
        }
        std::uint64_t bytes = 0;
        while (count > 0) {
            if (!file.Write(buffer_, static_cast<std::size_t>(count))) {
                const int cause = errno;
                Fail(target + ": cannot write: " + std::strerror(cause), "; old file kept");
                return !Staging();
            }
            bytes += static_cast<std::uint64_t>(count);
            count = stream.Read(buffer_, sizeof buffer_);
        }
        if (count < 0) return ReadFailed(target, stream);
        if (Staging()) {
            const std::string temporary = file.Stage(options_.durable, &error);
            if (temporary.empty()) {
                Fail(error);
                return false;
            }
        } else if (!file.Commit(options_.durable, &error)) {
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

    // A failure: when staging it ends the whole copy; otherwise `outcome`
    // (what the copy does about it) is added.
    void Fail(std::string text, const char* outcome = "") {
        if (Staging()) {
            failed_ = true;
        } else {
            text += outcome;
        }
        Problem(std::move(text));
    }

    bool ReadFailed(const std::string& target, platform::CompoundStream& stream) {
        Fail(target + ": " + stream.Error(), "; old file kept");
        return !Staging();
    }

    const StorageCopyOptions& options_;
    StorageCopyReport* report_;
    bool failed_ = false;
    unsigned char buffer_[COPY_BUFFER_SIZE];
};

}  // namespace

bool CopyStorageTree(const platform::CompoundStorage& storage, const std::string& folder,
                     const StorageCopyOptions& options, StorageCopyReport* report) {
    Copier copier(options, report);
    copier.CopyTree(storage, folder);
    return !copier.failed();
}

}  // namespace pelmo
