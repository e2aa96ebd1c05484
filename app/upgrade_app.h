// The upgrader's start-up: the single-instance guard, the command-line rule,
// the program's own path, then the dialog run modally; the process ends when
// the dialog closes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pelmo {

// The longest program path kept in modulePath.
inline constexpr std::size_t MODULE_PATH_LIMIT = 260;

// True when the text after the command line's last '-' (the whole line when it
// has none) is "PELMORUN", compared without regard to case and not trimmed.
bool IsStartedByClient(std::string_view commandLine);

// The process's command line as one text: the program path and the arguments
// joined by single blanks.
std::string JoinCommandLine(int argc, const char* const* argv);

// A program path as modulePath keeps it: cut to MODULE_PATH_LIMIT characters.
std::string CutModulePath(std::string path);

// The running program's full path, cut like CutModulePath.
std::string RunningProgramPath();

class UpgradeApp {
  public:
    // Shows the dialog modally and returns when it has closed.
    using DialogRunner = std::function<void()>;

    // Start-up in order: startedByClient cleared, the guard asked (another
    // upgrader running: return at once, nothing shown), the command-line rule,
    // modulePath filled, the dialog run. Always answers false: the process
    // ends afterwards.
    bool InitInstance(std::string_view commandLine, const DialogRunner& runDialog);

    // True when the last InitInstance ran the dialog; false when it ended
    // because another upgrader was running.
    bool dialogShown() const { return dialogShown_; }

  private:
    bool dialogShown_ = false;
};

}  // namespace pelmo
