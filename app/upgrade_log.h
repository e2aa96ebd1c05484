// The upgrader's own log: a few lines a run (time, versions offered, each
// step's outcome and cause), so that a failure can be looked into afterwards.
#pragma once

#include <cstddef>
#include <string>

namespace pelmo {

// The log never grows beyond this; the oldest lines go first.
inline constexpr std::size_t UPGRADE_LOG_LIMIT = std::size_t{1} << 20;

// "${XDG_STATE_HOME:-$HOME/.local/state}/pelmo/upgrade.log".
std::string UpgradeLogPath();

// Appends text (whole lines) to the log at path, creating its folder, and
// drops the oldest lines when the log would exceed limit. Failures are silent.
void AppendUpgradeLog(const std::string& path, const std::string& text,
                      std::size_t limit = UPGRADE_LOG_LIMIT);

}  // namespace pelmo
