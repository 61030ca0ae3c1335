#pragma once
// The daily sync activity and the login item, the two operating-system services the sync
// manager relies on. The activity ("<app-id>.dailySync") is a wall-clock DailyTimer inside the
// running application; at most one exists at a time. Nothing is stored: after a relaunch the
// service is idle until the schedule is switched on again. Main thread only.

#include "BrindlecoveApp/Platform/Clock.hpp"
#include "BrindlecoveApp/Platform/DailyTimer.hpp"
#include "BrindlecoveApp/Platform/LoginItem.hpp"

#include <QPointer>

#include <functional>
#include <optional>

namespace brindlecove {

class ScheduledSyncService {
public:
    // `onFire` is called on the main thread each time the activity fires; it should only
    // hand the work on.
    explicit ScheduledSyncService(std::function<void()> onFire,
                                  LoginItem loginItem = LoginItem::forApplication(),
                                  Clock clock = systemClock(), int checkIntervalMs = 60'000);
    ~ScheduledSyncService();
    ScheduledSyncService(const ScheduledSyncService&) = delete;
    ScheduledSyncService& operator=(const ScheduledSyncService&) = delete;

    // "<app-id>.dailySync", the same on every call and launch.
    static QString activityIdentifier();

    // Replaces any running activity by a new one repeating every `intervalSeconds`.
    void startSchedule(double intervalSeconds);
    // Invalidates and drops the activity, if any.
    void stopSchedule();
    // The running activity, or null while idle.
    DailyTimer* scheduler() const { return scheduler_; }

    // Switches the login item; nullopt on success, else the failure's sentence.
    // Asking for the state it is already in makes no change on disk.
    std::optional<QString> setLaunchAtLogin(bool wanted);
    QString launchAtLoginStatusText() const;
    const LoginItem& loginItem() const { return loginItem_; }

private:
    std::function<void()> onFire_;
    LoginItem loginItem_;
    Clock clock_;
    int checkIntervalMs_;
    QPointer<DailyTimer> scheduler_;
};

}  // namespace brindlecove
