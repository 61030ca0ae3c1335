#pragma once
// Locale-aware display texts computed in the core, so exact-text checks run without a display.

#include <QDateTime>
#include <QString>

#include <optional>

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

// A count with the noun it counts, singular for exactly one ("1 file", "3 files", "20,001
// files"), the number grouped as groupedInteger() does; the application's texts write every
// count through these.
QString count(qint64 value, const char* singular, const char* plural);
// The noun alone for `value` ("file" or "files"), where the count stands elsewhere.
QString noun(qint64 value, const char* singular, const char* plural);
// "All 3 files", "The 1 file".
QString allOf(qint64 value, const char* singular, const char* plural);
// "2 of 5 files", "1 of 1 file", "1 of 5,000 files".
QString partOf(qint64 part, qint64 total, const char* singular, const char* plural);
// "3 clips", or "1 clip (3 files)" when the files are more than the clips.
QString clipsAndFiles(qint64 clips, qint64 files);

// A byte count in the file-size style the engine uses (decimal units: "1.2 MB").
QString fileByteCount(qint64 bytes);

// A time estimate in abbreviated units: hours and minutes from 3600 s on, minutes and
// seconds below ("1h", "1h 5m", "2m 5s", "59m 59s", "42s", "0s"); zero units are left out
// and fractions truncated. Values above 10^9 s are clamped there (hours only). Negative or
// non-finite input has no text.
std::optional<QString> durationText(double seconds);

// "yyyy-MM-dd HHmmss" in the local time zone with plain ASCII digits, for file names.
QString fileStamp(const QDateTime& when);

}  // namespace brindlecove::Formats
