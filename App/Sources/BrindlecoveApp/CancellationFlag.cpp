#include "BrindlecoveApp/CancellationFlag.hpp"

namespace brindlecove {

void CancellationFlag::cancel() {
    std::lock_guard guard(lock_);
    cancelled_ = true;
}

bool CancellationFlag::isCancelled() const {
    std::lock_guard guard(lock_);
    return cancelled_;
}

std::function<bool()> CancellationFlag::testFor(std::shared_ptr<const CancellationFlag> flag) {
    return [flag = std::move(flag)] { return flag->isCancelled(); };
}

}  // namespace brindlecove
