#pragma once
// Locale-aware display texts computed in the core, so exact-text checks run without a display.

#include <QDateTime>
#include <QString>

namespace brindlecove::Formats {

// Time of day with seconds in the user's locale, without a time-zone name
// (en_US "2:05:09 PM", de "14:05:09").
QString mediumTime(const QTime& time);

// The locale's long date without the weekday, month names abbreviated (en_US "Mar 7, 2025").
QString abbreviatedDate(const QDate& date);

// abbreviatedDate, a space, and the locale's short time (en_US "Mar 7, 2025 2:05 PM").
QString abbreviatedDateShortTime(const QDateTime& when);

// An integer with the locale's digit grouping (en_US "1,234,567").
QString groupedInteger(qint64 value);

// A byte count in the file-size style the engine uses (decimal units: "1.2 MB").
QString fileByteCount(qint64 bytes);

}  // namespace brindlecove::Formats
