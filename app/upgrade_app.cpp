#include "app/upgrade_app.h"

#include <strings.h>
#include <unistd.h>

#include <climits>

#include "app/process_state.h"

namespace pelmo {

namespace {
constexpr std::string_view CLIENT_MARK = "PELMORUN";
}

bool IsStartedByClient(std::string_view commandLine) {
    const auto hyphen = commandLine.rfind('-');
    const std::string_view tail =
        hyphen == std::string_view::npos ? commandLine : commandLine.substr(hyphen + 1);
    return tail.size() == CLIENT_MARK.size() &&
           strncasecmp(tail.data(), CLIENT_MARK.data(), CLIENT_MARK.size()) == 0;
}

std::string JoinCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += ' ';
        line += argv[i];
    }
    return line;
}

std::string RunningProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0) return {};
    return CutModulePath(std::string(buffer, static_cast<std::size_t>(length)));
}

std::string CutModulePath(std::string path) {
    if (path.size() > MODULE_PATH_LIMIT) path.resize(MODULE_PATH_LIMIT);
    return path;
}

bool UpgradeApp::InitInstance(std::string_view commandLine, const DialogRunner& runDialog) {
    dialogShown_ = false;
    ProcessState& process = Process();
    process.startedByClient = 0;

    CInstanceChecker& guard = ProcessInstanceChecker();
    if (guard.IsAnotherInstanceRunning()) {
        guard.ReleaseGuard();
        return false;
    }

    if (IsStartedByClient(commandLine)) process.startedByClient = 1;
    process.modulePath = RunningProgramPath();

    dialogShown_ = true;
    runDialog();
    return false;
}

}  // namespace pelmo
