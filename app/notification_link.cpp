#include "app/notification_target.h"

namespace pelmo {

void NotificationLink::Attach(NotificationTarget* target) {
    std::lock_guard lock(mutex_);
    target_ = target;
}

void NotificationLink::Detach() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
}

bool NotificationLink::IsAttached() const {
    std::lock_guard lock(mutex_);
    return target_ != nullptr;
}

bool NotificationLink::Post(int code) {
    std::lock_guard lock(mutex_);
    if (target_ == nullptr) return false;
    target_->PostNotification(code);
    return true;
}

void NotificationLink::ShowDownloadProgress(float bytesSoFar, float bytesExpected,
                                            float packageBytes, int32_t bytesBefore) {
    std::lock_guard lock(mutex_);
    if (target_ != nullptr) {
        target_->ShowDownloadProgress(bytesSoFar, bytesExpected, packageBytes, bytesBefore);
    }
}

}  // namespace pelmo
