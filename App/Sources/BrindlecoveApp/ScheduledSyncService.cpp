#include "BrindlecoveApp/ScheduledSyncService.hpp"

#include "BrindlecoveApp/Platform/AppIdentity.hpp"

namespace brindlecove {

ScheduledSyncService::ScheduledSyncService(std::function<void()> onFire, LoginItem loginItem,
                                           Clock clock, int checkIntervalMs)
    : onFire_(std::move(onFire)),
      loginItem_(std::move(loginItem)),
      clock_(std::move(clock)),
      checkIntervalMs_(checkIntervalMs) {}

ScheduledSyncService::~ScheduledSyncService() { stopSchedule(); }

QString ScheduledSyncService::activityIdentifier() { return appId() + QStringLiteral(".dailySync"); }

void ScheduledSyncService::startSchedule(double intervalSeconds) {
    stopSchedule();
    scheduler_ = new DailyTimer(activityIdentifier(), intervalSeconds, onFire_, clock_, checkIntervalMs_);
}

void ScheduledSyncService::stopSchedule() {
    if (!scheduler_) return;
    scheduler_->invalidate();
    // Deferred: stopping may be asked from inside the activity's own fire.
    scheduler_->deleteLater();
    scheduler_ = nullptr;
}

std::optional<QString> ScheduledSyncService::setLaunchAtLogin(bool wanted) {
    try {
        if (wanted) loginItem_.registerItem();
        else loginItem_.unregisterItem();
    } catch (const LoginItemError& error) {
        return QString::fromStdString(error.what());
    }
    return std::nullopt;
}

QString ScheduledSyncService::launchAtLoginStatusText() const {
    return loginItemStatusText(loginItem_.status());
}

}  // namespace brindlecove
