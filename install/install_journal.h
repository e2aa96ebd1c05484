// The installation journal: a small file in the work folder that tells the
// next start of the upgrader how far an interrupted installation of one
// version got, so that it can finish or undo it.
//
// Records, each field ended by a NUL byte:
//   "version" ID          the version being installed
//   "folder" PATH         a folder the installation created
//   "file" TEMP TARGET    a temporary file (noted once created) and its target
//   "renaming"            every file is written and flushed; the renames begin
//   "ran"                 the post-install program has run
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pelmo {

// The journal's file name in the work folder.
inline constexpr const char* INSTALL_JOURNAL_NAME = "install.journal";

// What a journal says.
struct JournalContent {
    std::int32_t version = 0;
    std::vector<std::string> folders;                        // in creation order
    std::vector<std::pair<std::string, std::string>> files;  // temporary, target
    bool renaming = false;
    bool ran = false;
};

class InstallJournal {
  public:
    InstallJournal() = default;
    ~InstallJournal();  // closes the file; the journal itself stays
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    // Starts a new journal at path (replacing an old one) for version.
    bool Begin(const std::string& path, std::int32_t version, std::string* error);
    // Goes on with the existing journal at path.
    bool Continue(const std::string& path);
    bool AddFolder(const std::string& folder);
    bool AddFile(const std::string& temporary, const std::string& target);
    // Written and flushed to disk before the first rename.
    bool MarkRenaming(std::string* error);
    bool MarkRan();
    // The version is recorded: the journal goes.
    void Remove();

  private:
    bool Append(const std::vector<std::string>& fields);

    int fd_ = -1;
    std::string path_;
};

// Reads the journal at path; false when there is none or it cannot be read.
bool ReadJournal(const std::string& path, JournalContent& content);

}  // namespace pelmo
