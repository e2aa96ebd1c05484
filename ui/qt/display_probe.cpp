#include "ui/qt/display_probe.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cerrno>

namespace pelmo::ui {

bool CanOpenDisplay(int argc, char** argv) {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // The toolkit aborts when the display is out of reach: no core file,
        // and its complaint is not this program's output.
        const struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        QGuiApplication probe(argc, argv);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace pelmo::ui
