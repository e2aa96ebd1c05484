// Step 5 of an upgrade run (and the last act of a closing upgrader that the
// client started): start the client program again.
#pragma once

#include <functional>
#include <string>

namespace pelmo {

inline constexpr const char* CLIENT_PROGRAM = "pelmo.exe";

// Calls `releaseGuard` first (so the client may start a new upgrader), then
// starts `clientFolder` + "pelmo.exe" with the client folder as its current
// folder, in a session of its own, without waiting for it. Returns 0 only
// when the program file exists and its start is refused; 1 when it started
// and also when there is no program file (nothing is started then).
int LaunchClient(const std::string& clientFolder, const std::function<void()>& releaseGuard);

}  // namespace pelmo
