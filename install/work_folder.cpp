#include "install/work_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
    std::string temporary;
    std::error_code error;
    const std::filesystem::path path = std::filesystem::temp_directory_path(error);
    temporary = error ? std::string("/tmp") : path.string();
    if (temporary.empty() || temporary.back() != '/') temporary += '/';
    return temporary + "PELMO_UPGRADE/";
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
