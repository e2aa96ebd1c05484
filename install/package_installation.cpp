#include "install/package_installation.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

#include "install/file_utils.h"
#include "install/install_journal.h"
#include "install/replacement_file.h"
#include "install/storage_tree_copy.h"
#include "install/work_folder.h"
#include "platform/compound_file_reader.h"
#include "platform/process_launch.h"

namespace pelmo {

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
}

// Runs the post-install program to its end or until the wait runs out. False,
// with the cause, when it cannot be started.
bool RunPostInstallProgram(const std::string& program, const PostInstallWait& wait,
                           std::string* reason) {
    // Started in the upgrader's own current folder, like the upgrader's caller.
    int error = 0;
    const pid_t pid = platform::StartProcess(program, std::string(), &error);
    if (pid < 0) {
        // Only ELF programs and "#!" scripts are made executable on install.
        SetReason(reason, ::access(program.c_str(), X_OK) != 0
                              ? "cannot run " + program +
                                    ": it is neither an ELF program nor a \"#!\" script"
                              : "cannot run " + program + ": " + std::strerror(error));
        return false;
    }
    bool running = true;
    for (int poll = 0; poll < wait.polls && running; ++poll) {
        running = platform::PollProcess(pid) == platform::ProcessStatus::Running;
        if (running) std::this_thread::sleep_for(wait.pause);
    }
    // Left running when the wait gives up, but not left unreaped.
    if (running) platform::CollectWhenEnded(pid);
    std::this_thread::sleep_for(wait.pause);
    return true;
}

// A folder the installation may write into: named, and not the root.
bool UsableClientFolder(const std::string& folder) {
    return folder.find_first_not_of('/') != std::string::npos;
}

std::string JournalPath(const InstallationRun& run) {
    return WithTrailingSeparator(run.workFolder) + INSTALL_JOURNAL_NAME;
}

// Undoes a version whose renames had not begun: its temporary files and the
// folders it created go.
// A kill can fall between a temporary file's creation and its line in the
// journal, so the folders the version wrote into are also swept for leftover
// temporaries (".NAME.pelmo-PID-N"; only one upgrader runs at a time).
void RemoveLeftoverTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 1 && name[0] == '.' && name.find(".pelmo-") != std::string::npos)
            ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

void RollBack(const JournalContent& content) {
    std::set<std::string> written;
    for (const auto& file : content.files) {
        ::unlink(file.first.c_str());
        const auto slash = file.first.rfind('/');
        if (slash != std::string::npos) written.insert(file.first.substr(0, slash));
    }
    for (const std::string& folder : written) RemoveLeftoverTemporaries(folder);
    for (auto it = content.folders.rbegin(); it != content.folders.rend(); ++it) {
        RemoveLeftoverTemporaries(*it);
        ::rmdir(it->c_str());
    }
}

// The second half of a version's installation, from the journal's content:
// the renames (those not done yet), the post-install program, the record.
int CompleteVersion(const InstallationRun& run, const JournalContent& content,
                    InstallJournal& journal, std::string* reason) {
    for (const auto& [temporary, target] : content.files) {
        struct stat st {};
        if (::lstat(temporary.c_str(), &st) != 0) continue;  // renamed before
        std::string error;
        if (!MoveIntoPlace(temporary, target, &error)) {
            SetReason(reason, "cannot put a file in place: " + error);
            return 0;
        }
    }
    if (!content.ran) {
        const std::string program = UsableClientFolder(run.clientFolder)
                                        ? FindPostInstallProgram(run.clientFolder)
                                        : std::string();
        if (!program.empty()) {
            if (!RunPostInstallProgram(program, run.wait, reason)) {
                // The files are in place; the version is not recorded.
                journal.Remove();
                return 0;
            }
            ::unlink(program.c_str());
        }
        journal.MarkRan();
    }
    if (run.recordVersion) run.recordVersion(content.version);
    journal.Remove();
    const std::string work = WithTrailingSeparator(run.workFolder);
    for (const char* suffix : {".pak", ".cab"})
        ::unlink((work + std::to_string(content.version) + suffix).c_str());
    return 1;
}

int InstallVersion(const InstallationRun& run, const VersionEntry& entry, std::string* reason) {
    const std::string pak =
        WithTrailingSeparator(run.workFolder) + std::to_string(entry.id) + ".pak";
    std::string error;
    auto package = platform::CompoundFile::Open(pak, &error);
    if (!package) {
        SetReason(reason, "cannot open the package content " + pak + ": " + error);
        return 0;
    }
    InstallJournal journal;
    if (!journal.Begin(JournalPath(run), entry.id, reason)) return 0;
    JournalContent content;
    content.version = entry.id;
    StorageCopyOptions options;
    options.modulePath = run.modulePath;
    options.durable = run.durable;
    options.onTemporaryFile = [&](const std::string& temporary, const std::string& target) {
        content.files.emplace_back(temporary, target);
        return journal.AddFile(temporary, target);
    };
    options.onFolderCreated = [&](const std::string& folder) {
        content.folders.push_back(folder);
        journal.AddFolder(folder);
    };
    StorageCopyReport report;
    const bool staged = CopyStorageTree(package->Root(), run.clientFolder, options, &report);
    package.reset();
    if (!staged || !journal.MarkRenaming(reason)) {
        if (!staged) SetReason(reason, report.problems.back());
        RollBack(content);
        journal.Remove();
        return 0;
    }
    return CompleteVersion(run, content, journal, reason);
}

int Install(const InstallationRun& run, std::string* reason) {
    if (!UsableClientFolder(run.clientFolder)) {
        SetReason(reason, "the client folder \"" + run.clientFolder +
                              "\" (from EXEPATH) is not a folder to install into");
        return 0;
    }
    for (const VersionEntry& entry : run.versions) {
        if (!InstallVersion(run, entry, reason)) return 0;
        if (run.cancelRequested != nullptr && run.cancelRequested->load() != 0) {
            SetReason(reason, "stopped after version " + std::to_string(entry.id));
            return 0;
        }
    }
    const std::string program = FindPostInstallProgram(run.clientFolder);
    if (!program.empty()) ::unlink(program.c_str());
    return 1;
}

}  // namespace

std::string FindPostInstallProgram(const std::string& clientFolder) {
    const std::string folder = WithTrailingSeparator(clientFolder);
    std::string found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* item = ::readdir(dir)) {
            if (::strcasecmp(item->d_name, POST_INSTALL_PROGRAM) == 0 &&
                FileExists(folder + item->d_name)) {
                found = folder + item->d_name;
                // The exact spelling wins over others.
                if (std::strcmp(item->d_name, POST_INSTALL_PROGRAM) == 0) break;
            }
        }
        ::closedir(dir);
    }
    return found;
}

int InstallPackages(const InstallationRun& run, std::string* reason) {
    try {
        return Install(run, reason);
    } catch (...) {
        SetReason(reason, "out of memory");
        return 0;
    }
}

int RecoverInstallation(const InstallationRun& run, std::string* reason) {
    try {
        // The journal names files to rename: only a work folder that passes
        // its checks is believed.
        struct stat st {};
        if (::lstat(run.workFolder.c_str(), &st) != 0) return 1;
        if (!PrepareWorkFolder(run.workFolder, reason)) return 0;
        const std::string path = JournalPath(run);
        JournalContent content;
        if (!ReadJournal(path, content)) {
            ::unlink(path.c_str());  // empty or unreadable: nothing was renamed
            return 1;
        }
        InstallJournal journal;
        journal.Continue(path);
        if (!content.renaming) {
            RollBack(content);
            journal.Remove();
            return 1;
        }
        return CompleteVersion(run, content, journal, reason);
    } catch (...) {
        SetReason(reason, "out of memory");
        return 0;
    }
}

}  // namespace pelmo
