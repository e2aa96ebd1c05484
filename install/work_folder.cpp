#include "install/work_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "install/create_directory_path.h"

namespace pelmo {
namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
}

}  // namespace

std::string WorkFolderPath() {
    std::string base;
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        base = tmp;
    } else {
        if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/') {
            base = cache;
        } else {
            const char* home = std::getenv("HOME");
            const passwd* user =
                home == nullptr || *home == '\0' ? ::getpwuid(::geteuid()) : nullptr;
            base = std::string(user != nullptr   ? user->pw_dir
                               : home != nullptr ? home
                                                 : "") +
                   "/.cache";
        }
        base += "/pelmo";
    }
    if (base.empty() || base.back() != '/') base += '/';
    return base + "PELMO_UPGRADE/";
}

void RemoveStalePartialDownloads(const std::string& folder) {
    const auto oldest = std::filesystem::file_time_type::clock::now() -
                        std::chrono::hours(24 * PARTIAL_DOWNLOAD_DAYS);
    auto endsWith = [](const std::string& name, const std::string& tail) {
        return name.size() > tail.size() &&
               name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.find(".cab.part") == std::string::npos) continue;
        std::error_code ignored;
        const bool resumable = endsWith(name, ".cab.part") || endsWith(name, ".cab.part.info");
        if (resumable && std::filesystem::last_write_time(it->path(), ignored) > oldest) continue;
        std::filesystem::remove(it->path(), ignored);
    }
}

bool PrepareWorkFolder(const std::string& folder, std::string* reason) {
    CreateDirectoryPath(folder, 0700);
    // Without its trailing "/": lstat would otherwise follow a link.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        SetReason(reason, "cannot create the work folder " + path + ": " + std::strerror(errno));
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        SetReason(reason, "the work folder " + path + " is a link");
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        SetReason(reason, "the work folder " + path + " is not a folder");
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        SetReason(reason, "the work folder " + path + " belongs to another user");
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        SetReason(reason, "the work folder " + path + " is writable by other users");
        return false;
    }
    return true;
}

}  // namespace pelmo
