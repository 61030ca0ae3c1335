#pragma once
// Locale-aware display texts computed in the core, so exact-text checks run without a display.

#include <QDateTime>
#include <QString>

namespace brindlecove::Formats {

// Time of day with seconds in the user's locale, without a time-zone name
// (en_US "2:05:09 PM", de "14:05:09").
QString mediumTime(const QTime& time);

}  // namespace brindlecove::Formats
