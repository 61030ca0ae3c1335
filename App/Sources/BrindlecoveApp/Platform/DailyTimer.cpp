#include "BrindlecoveApp/Platform/DailyTimer.hpp"

#include <algorithm>

namespace brindlecove {

DailyTimer::DailyTimer(const QString& identifier, double intervalSeconds,
                       std::function<void()> onFire, Clock clock, int checkIntervalMs,
                       QObject* parent)
    : QObject(parent),
      intervalSeconds_(intervalSeconds),
      onFire_(std::move(onFire)),
      clock_(std::move(clock)) {
    setObjectName(identifier);
    due_ = clock_().toUTC().addMSecs(static_cast<qint64>(intervalSeconds_ * 1000));
    checkTimer_.setTimerType(Qt::CoarseTimer);
    checkTimer_.setInterval(checkIntervalMs);
    connect(&checkTimer_, &QTimer::timeout, this, &DailyTimer::checkNow);
    checkTimer_.start();
}

double DailyTimer::toleranceFor(double intervalSeconds) {
    return std::min(0.25 * intervalSeconds, 3600.0);
}

void DailyTimer::checkNow() {
    if (!valid_) return;
    QDateTime now = clock_().toUTC();
    const qint64 intervalMs = static_cast<qint64>(intervalSeconds_ * 1000);
    if (now < due_) {
        // The clock was set back by more than an interval: without this the activity
        // would stay silent until the old due time came round again.
        if (now.msecsTo(due_) > intervalMs) due_ = now.addMSecs(intervalMs);
        return;
    }
    due_ = now.addMSecs(intervalMs);
    if (onFire_) onFire_();
}

void DailyTimer::invalidate() {
    valid_ = false;
    checkTimer_.stop();
}

}  // namespace brindlecove
