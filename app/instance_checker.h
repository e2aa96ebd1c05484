// The upgrader's single-instance guard and the client-running probe, both over
// named system-wide objects that exist while some process holds them.
#pragma once

#include <mutex>
#include <string>

#include "platform/named_object.h"

namespace pelmo {

// The names shared with other copies of the upgrader and with the client.
inline constexpr const char* UPGRADER_GUARD_NAME = "PELMOUPGRADE_CInstanceChecker_MMF_";
inline constexpr const char* CLIENT_GUARD_NAME = "CUserDataManagerApp_InstanceChecker_MMF_";

class CInstanceChecker {
  public:
    CInstanceChecker() : CInstanceChecker(UPGRADER_GUARD_NAME) {}
    explicit CInstanceChecker(std::string name) : name_(std::move(name)) {}
    // Gives up the guard if still held (the process's own checker is never
    // destroyed: its guard lasts until ReleaseGuard or process end).
    ~CInstanceChecker() = default;
    CInstanceChecker(const CInstanceChecker&) = delete;
    CInstanceChecker& operator=(const CInstanceChecker&) = delete;

    // True when another upgrader holds the guard, or when the guard cannot be
    // made at all; false when this process now holds it. Of several upgraders
    // asking at the same moment exactly one gets false. The guard is never
    // inherited by child processes.
    bool IsAnotherInstanceRunning();

    // Gives up the guard (if held), so that a new upgrader can start.
    void ReleaseGuard();

    // Why the last IsAnotherInstanceRunning could not make the guard (its
    // file and the system's reason); empty when another upgrader holds it.
    std::string failure() const;

  private:
    std::string name_;
    std::string failure_;
    mutable std::mutex mutex_;
    platform::NamedObject guard_;
};

// True while some process holds the client's named object. Any failure to
// test counts as not running. Never creates anything.
bool IsClientRunning();

}  // namespace pelmo
