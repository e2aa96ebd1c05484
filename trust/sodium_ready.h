// libsodium needs one initialisation per process before its first use.
#pragma once

#include <sodium.h>

namespace pelmo::trust {

inline bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace pelmo::trust
