#include "app/instance_checker.h"

namespace pelmo {

bool CInstanceChecker::IsAnotherInstanceRunning() {
    std::lock_guard lock(mutex_);
    failure_.clear();
    if (guard_.IsHeld()) return false;
    if (guard_.Create(name_, &failure_) != platform::NamedObject::CREATED) return true;
    // The content of the object is its own name, NUL-terminated. A failed write
    // does not matter: holding the object is what guards.
    guard_.WriteContent(name_.c_str(), name_.size() + 1);
    return false;
}

void CInstanceChecker::ReleaseGuard() {
    std::lock_guard lock(mutex_);
    guard_.Close();
}

std::string CInstanceChecker::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

bool IsClientRunning() { return platform::NamedObject::Exists(CLIENT_GUARD_NAME); }

}  // namespace pelmo
