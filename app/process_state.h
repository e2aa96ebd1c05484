// Process-wide state of the upgrader, written by start-up before any worker
// runs and only read afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/instance_checker.h"

namespace pelmo {

struct ProcessState {
    // Full path of the running upgrader's own program file; empty until
    // start-up fills it. Installation never overwrites this file.
    std::string modulePath;
    // 1 when the client started the upgrader (command line ends in -PELMORUN).
    int32_t startedByClient = 0;
};

// The one instance, built on first use and never destroyed (a detached worker
// may still read it while the process exits).
ProcessState& Process();

// The upgrader's own single-instance guard (likewise never destroyed).
CInstanceChecker& ProcessInstanceChecker();

// ReleaseGuard on the process's guard, as a callback for the client launch
// step (which cannot reach app/): it gives up the guard before it starts the
// client, so that the client can start a new upgrader.
std::function<void()> ReleaseGuardCallback();

}  // namespace pelmo
