#pragma once
// A repeating activity kept on the wall clock. A QTimer counts on CLOCK_MONOTONIC, which
// stops while the machine sleeps, so a 24-hour QTimer would fire days late on a laptop.
// Instead the due time is kept in UTC and checked every minute (and on checkNow()); a check
// at or after the due time fires once and sets the next due time from now, so a machine
// that slept five days fires once, not five times. Main thread only.

#include "BrindlecoveApp/Platform/Clock.hpp"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

namespace brindlecove {

class DailyTimer : public QObject {
    Q_OBJECT
public:
    // Starts at once: the first fire is due one interval from now. `identifier` names the
    // activity (it becomes the object name).
    DailyTimer(const QString& identifier, double intervalSeconds, std::function<void()> onFire,
               Clock clock = systemClock(), int checkIntervalMs = 60'000, QObject* parent = nullptr);

    double intervalSeconds() const { return intervalSeconds_; }
    // How late a fire may come: a quarter of the interval, at most an hour.
    double toleranceSeconds() const { return toleranceFor(intervalSeconds_); }
    static double toleranceFor(double intervalSeconds);

    QDateTime dueTime() const { return due_; }
    bool isValid() const { return valid_; }

    // Compares the clock with the due time and fires when it is reached.
    void checkNow();
    // Stops for good: no later check fires, also one already queued.
    void invalidate();

private:
    double intervalSeconds_;
    std::function<void()> onFire_;
    Clock clock_;
    QTimer checkTimer_;
    QDateTime due_;
    bool valid_ = true;
};

}  // namespace brindlecove
