#include "install/package_installation.h"

#include <unistd.h>

#include <thread>

#include "install/file_utils.h"
#include "install/storage_tree_copy.h"
#include "platform/compound_file_reader.h"
#include "platform/process_launch.h"

namespace pelmo {

namespace {

// Runs the post-install program to its end or until the wait runs out. False
// when it cannot be started.
bool RunPostInstallProgram(const std::string& program, const PostInstallWait& wait) {
    // Started in the upgrader's own current folder, like the upgrader's caller.
    const pid_t pid = platform::StartProcess(program);
    if (pid < 0) return false;
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

int Install(const InstallationRun& run) {
    const std::string workFolder = WithTrailingSeparator(run.workFolder);
    const std::string clientFolder = WithTrailingSeparator(run.clientFolder);
    const std::string program = clientFolder + POST_INSTALL_PROGRAM;
    StorageCopyOptions options;
    options.modulePath = run.modulePath;
    options.durable = run.durable;
    for (const VersionEntry& entry : run.versions) {
        auto content = platform::CompoundFile::Open(workFolder + std::to_string(entry.id) + ".pak");
        if (!content) return 0;
        CopyStorageTree(content->Root(), clientFolder, options);
        if (FileExists(program)) {
            if (!RunPostInstallProgram(program, run.wait)) return 0;
            ::unlink(program.c_str());
        }
        if (run.recordVersion) run.recordVersion(entry.id);
    }
    if (FileExists(program)) ::unlink(program.c_str());
    return 1;
}

}  // namespace

int InstallPackages(const InstallationRun& run) {
    try {
        return Install(run);
    } catch (...) {
        return 0;
    }
}

}  // namespace pelmo
