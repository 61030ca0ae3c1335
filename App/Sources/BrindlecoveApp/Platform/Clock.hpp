#pragma once
// The wall clock, injectable so tests can move time (the daily schedule, midnight renewal).

#include <QDateTime>

#include <functional>

namespace brindlecove {

using Clock = std::function<QDateTime()>;

inline Clock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

}  // namespace brindlecove
