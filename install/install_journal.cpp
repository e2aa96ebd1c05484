#include "install/install_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pelmo {

InstallJournal::~InstallJournal() {
    if (fd_ >= 0) ::close(fd_);
}

bool InstallJournal::Begin(const std::string& path, std::int32_t version, std::string* error) {
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                 0600);
    if (fd_ < 0 || !Append({"version", std::to_string(version)})) {
        if (error) *error = "cannot write the journal " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool InstallJournal::Continue(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    return fd_ >= 0;
}

bool InstallJournal::AddFolder(const std::string& folder) { return Append({"folder", folder}); }

bool InstallJournal::AddFile(const std::string& temporary, const std::string& target) {
    return Append({"file", temporary, target});
}

bool InstallJournal::MarkRenaming(std::string* error) {
    if (Append({"renaming"}) && ::fsync(fd_) == 0) return true;
    if (error) *error = "cannot write the journal " + path_ + ": " + std::strerror(errno);
    return false;
}

bool InstallJournal::MarkRan() { return Append({"ran"}); }

void InstallJournal::Remove() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool InstallJournal::Append(const std::vector<std::string>& fields) {
    if (fd_ < 0) return false;
    std::string record;
    for (const std::string& field : fields) {
        if (field.find('\0') != std::string::npos) return false;
        record += field;
        record.push_back('\0');
    }
    // One write per record (O_APPEND): a record is never split by another.
    const ssize_t written = ::write(fd_, record.data(), record.size());
    return written == static_cast<ssize_t>(record.size());
}

bool ReadJournal(const std::string& path, JournalContent& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
        fields.push_back(bytes.substr(start, end - start));
    // A record cut short by a crash is ignored with everything after it.
    content = {};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& kind = fields[i];
        const std::size_t left = fields.size() - i - 1;
        if (kind == "version" && left >= 1) {
            content.version = static_cast<std::int32_t>(std::atol(fields[++i].c_str()));
        } else if (kind == "folder" && left >= 1) {
            content.folders.push_back(fields[++i]);
        } else if (kind == "file" && left >= 2) {
            content.files.emplace_back(fields[i + 1], fields[i + 2]);
            i += 2;
        } else if (kind == "renaming") {
            content.renaming = true;
        } else if (kind == "ran") {
            content.ran = true;
        } else {
            break;
        }
    }
    return content.version != 0;
}

}  // namespace pelmo
