#include "tools/folder_packing.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace pelmo::tools {

namespace fs = std::filesystem;

bool PackFolder(platform::CompoundFileWriter& writer, const fs::path& folder,
                const platform::CompoundFileWriter::Path& path, const OtherEntryPolicy& other,
                FolderPackingReport* report, std::string* error) {
    std::error_code failure;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure))
        entries.push_back(*it);
    if (failure) {
        *error = folder.string() + ": " + failure.message();
        return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        auto childPath = path;
        childPath.push_back(entry.path().filename().string());
        std::string message;
        const auto status = entry.symlink_status(failure);
        if (fs::is_directory(status)) {
            if (!writer.AddStorage(childPath, &message)) {
                *error = entry.path().string() + ": " + message;
                return false;
            }
            if (!PackFolder(writer, entry.path(), childPath, other, report, error)) return false;
        } else if (fs::is_regular_file(status)) {
            const std::uint64_t size = entry.file_size(failure);
            if (failure) {
                *error = entry.path().string() + ": " + failure.message();
                return false;
            }
            if (!writer.AddStreamFromFile(childPath, entry.path().string(), size, &message)) {
                *error = entry.path().string() + ": " + message;
                return false;
            }
            ++report->files;
            report->bytes += size;
        } else if (!other(entry.path())) {
            *error = entry.path().string() + ": not a file or folder";
            return false;
        }
    }
    return true;
}

}  // namespace pelmo::tools
