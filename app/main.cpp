// pelmo-upgrader: brings the Pelmo client up to date. Shows the upgrade dialog
// when a display is available, the console front-end otherwise or with
// --console. Exit status: 0 after a complete upgrade, 1 when the run stopped
// (a failure, no new version, or closed early), 2 when another upgrader was
// already running and nothing was done.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/instance_checker.h"
#include "app/process_state.h"
#include "app/upgrade_app.h"
#include "app/upgrade_engine.h"
#include "ui/console_view.h"
#include "ui/upgrade_dialog.h"

#ifdef PELMO_HAS_QT
#include <QApplication>

#include "ui/qt/display_probe.h"
#include "ui/qt/qt_dialog_view.h"
#endif

namespace {

constexpr int EXIT_ANOTHER_UPGRADER = 2;

constexpr const char* USAGE =
    "usage: pelmo-upgrader [--console] [-PELMORUN]\n"
    "\n"
    "Brings the Pelmo client up to date from the update source named in its\n"
    "settings, in a window when a display is available, else on the console.\n"
    "\n"
    "  --console   run on the console even when a display is available\n"
    "  -PELMORUN   the final argument when the client starts the upgrader: a run\n"
    "              that stops starts the client again\n"
    "  --help      print this text\n"
    "  --version   print the version\n"
    "\n"
    "Exit status: 0 the upgrade completed, 1 the run stopped, 2 another upgrader\n"
    "was already running.\n";

bool HasArgument(int argc, char** argv, const char* argument) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], argument) == 0) return true;
    }
    return false;
}

bool DisplayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Standard descriptors that are closed are opened on /dev/null, so that no
// file the program opens later takes their place and receives its output.
void OpenClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int null = open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                dup2(null, fd);
                close(null);
            }
        }
    }
}

// Why the program ends at start-up without a run: on standard error, where
// the window never shows it.
void ReportNoRun(bool console) {
    const std::string failure = pelmo::ProcessInstanceChecker().failure();
    if (!failure.empty()) {
        std::fprintf(stderr, "pelmo-upgrader: cannot take the instance guard %s\n",
                     failure.c_str());
    } else if (console) {
        std::fputs("pelmo-upgrader: another upgrader is already running\n", stderr);
    }
}

int RunConsole(const std::shared_ptr<pelmo::UpgradeEngine>& engine) {
    pelmo::ui::ConsoleView view(stdout, isatty(STDOUT_FILENO) != 0);
    pelmo::ui::ConsoleView::InstallCancelSignals();
    pelmo::ui::ConsoleView::SurviveClosedOutput();
    pelmo::ui::UpgradeDialog dialog(view, engine, pelmo::Process().startedByClient == 1);
    return view.RunModal(dialog);
}

#ifdef PELMO_HAS_QT
int RunWindow(int argc, char** argv, const std::shared_ptr<pelmo::UpgradeEngine>& engine) {
    QApplication application(argc, argv);
    pelmo::ui::QtDialogView view;
    pelmo::ui::UpgradeDialog dialog(view, engine, pelmo::Process().startedByClient == 1);
    return view.RunModal(dialog);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (HasArgument(argc, argv, "--help")) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (HasArgument(argc, argv, "--version")) {
        std::puts("pelmo-upgrader " PELMO_VERSION);
        return 0;
    }
    OpenClosedStandardDescriptors();
    // The command line as the rule reads it, taken before the toolkit sees it.
    const std::string commandLine = pelmo::JoinCommandLine(argc, argv);
    bool console = HasArgument(argc, argv, "--console") || !DisplayAvailable();
#ifdef PELMO_HAS_QT
    if (!console && !pelmo::ui::CanOpenDisplay(argc, argv)) {
        std::fputs("pelmo-upgrader: cannot open the display; running on the console\n", stderr);
        console = true;
    }
#else
    console = true;
#endif

    std::shared_ptr<pelmo::UpgradeEngine> engine;
    int status = EXIT_ANOTHER_UPGRADER;
    pelmo::UpgradeApp app;
    app.InitInstance(commandLine, [&] {
        pelmo::RecoverInterruptedInstallation();
        engine = std::make_shared<pelmo::UpgradeEngine>();
#ifdef PELMO_HAS_QT
        status = console ? RunConsole(engine) : RunWindow(argc, argv, engine);
#else
        status = RunConsole(engine);
#endif
    });
    if (!app.dialogShown()) ReportNoRun(console);

    std::fflush(nullptr);
    // A worker that outlived the close path's bounded wait still holds the
    // engine: end the process without running static destructors under it.
    if (engine && engine.use_count() > 1) std::_Exit(status);
    return status;
}
