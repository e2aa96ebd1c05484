#include "install/client_launch.h"

#include "install/file_utils.h"
#include "platform/process_launch.h"

namespace pelmo {

int LaunchClient(const std::string& clientFolder, const std::function<void()>& releaseGuard) {
    try {
        if (releaseGuard) releaseGuard();
        const std::string folder = WithTrailingSeparator(clientFolder);
        const std::string program = folder + CLIENT_PROGRAM;
        if (!FileExists(program)) return 1;
        return platform::StartProcess(program, folder) < 0 ? 0 : 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace pelmo
