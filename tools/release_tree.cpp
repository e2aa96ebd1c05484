#include "tools/release_tree.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tools/folder_packing.h"
#include "trust/sha256.h"

namespace pelmo::tools {

namespace {

namespace fs = std::filesystem;

std::vector<fs::directory_entry> SortedEntries(const fs::path& folder, std::error_code& failure) {
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Feeds the tree below folder into hash in name order: each folder's
// relative path, each file's path, size and bytes.
bool DigestTree(const fs::path& folder, const std::string& prefix, trust::Sha256& hash,
                std::string* error) {
    std::error_code failure;
    const auto entries = SortedEntries(folder, failure);
    if (failure) {
        *error = folder.string() + ": " + failure.message();
        return false;
    }
    for (const auto& entry : entries) {
        const std::string name = prefix + entry.path().filename().string();
        const bool isFolder = entry.is_directory(failure);
        const std::uint64_t size = isFolder || failure ? 0 : entry.file_size(failure);
        if (failure) {
            *error = entry.path().string() + ": " + failure.message();
            return false;
        }
        const std::string line =
            (isFolder ? "D " : "F " + std::to_string(size) + " ") + name + '\n';
        hash.Update(line.data(), line.size());
        const bool ok = isFolder ? DigestTree(entry.path(), name + "/", hash, error)
                                 : trust::HashFileInto(hash, entry.path().string(), error);
        if (!ok) return false;
    }
    return true;
}

}  // namespace

bool ParseVersionId(const std::string& text, int32_t& id) {
    const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digits || text.size() - digits > 10 ||
        text.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    if (text[digits] == '0' && (text.size() > digits + 1 || digits == 1)) return false;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < INT32_MIN || value > INT32_MAX) return false;
    id = static_cast<int32_t>(value);
    return true;
}

bool ListReleaseVersions(const std::string& releasesDir, std::vector<ReleaseVersion>& versions,
                         std::string* error) {
    std::error_code failure;
    if (!fs::is_directory(releasesDir, failure)) {
        *error = releasesDir + ": not a folder";
        return false;
    }
    const auto entries = SortedEntries(releasesDir, failure);
    if (failure) {
        *error = releasesDir + ": " + failure.message();
        return false;
    }
    versions.clear();
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        ReleaseVersion version;
        if (!entry.is_directory(failure) || entry.is_symlink(failure) ||
            !ParseVersionId(name, version.id)) {
            *error = entry.path().string() +
                     ": not a version folder (a folder named by a decimal version id)";
            return false;
        }
        version.folder = entry.path().string();
        versions.push_back(version);
    }
    if (versions.empty()) {
        *error = releasesDir + ": no version folders";
        return false;
    }
    std::sort(versions.begin(), versions.end(),
              [](const ReleaseVersion& a, const ReleaseVersion& b) { return a.id < b.id; });
    return true;
}

bool ReadReleaseTree(const std::string& folder, ReleaseTree& tree, std::string* error) {
    tree = ReleaseTree{};
    tree.content = std::make_unique<platform::CompoundFileWriter>();
    FolderPackingReport report;
    const auto refuse = [](const fs::path&) { return false; };
    if (!PackFolder(*tree.content, folder, {}, refuse, &report, error)) return false;
    if (report.files == 0) {
        *error = folder + ": no files";
        return false;
    }
    tree.files = report.files;
    tree.bytes = report.bytes;
    trust::Sha256 hash;
    const std::string format = "pelmo release tree 1\n";
    hash.Update(format.data(), format.size());
    if (!DigestTree(folder, "", hash, error)) return false;
    tree.digest = hash.FinishHex();
    return true;
}

}  // namespace pelmo::tools
