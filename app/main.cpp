// pelmo-upgrader: brings the Pelmo client up to date. Shows the upgrade dialog
// when a display is available, the console front-end otherwise or with
// --console. Exit status: 0 after a complete upgrade, 1 when the run stopped
// (a failure, no new version, or closed early), 2 when another upgrader was
// already running and nothing was done.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/process_state.h"
#include "app/upgrade_app.h"
#include "app/upgrade_engine.h"
#include "ui/console_view.h"
#include "ui/upgrade_dialog.h"

#ifdef PELMO_HAS_QT
#include <QApplication>

#include "ui/qt/qt_dialog_view.h"
#endif

namespace {

constexpr int EXIT_ANOTHER_UPGRADER = 2;

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

int RunConsole(const std::shared_ptr<pelmo::UpgradeEngine>& engine) {
    pelmo::ui::ConsoleView view(stdout, isatty(STDOUT_FILENO) != 0);
    pelmo::ui::ConsoleView::InstallCancelSignals();
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
    // The command line as the rule reads it, taken before the toolkit sees it.
    const std::string commandLine = pelmo::JoinCommandLine(argc, argv);
    [[maybe_unused]] const bool console =
        HasArgument(argc, argv, "--console") || !DisplayAvailable();

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

    std::fflush(nullptr);
    // A worker that outlived the close path's bounded wait still holds the
    // engine: end the process without running static destructors under it.
    if (engine && engine.use_count() > 1) std::_Exit(status);
    return status;
}
