// Whether the window can be shown: the toolkit ends the process when it cannot
// reach the display, so a child process tries first.
#pragma once

namespace pelmo::ui {

// True when the toolkit can open its display with this program's arguments
// and environment. Tried in a child process, whose output is discarded.
bool CanOpenDisplay(int argc, char** argv);

}  // namespace pelmo::ui
