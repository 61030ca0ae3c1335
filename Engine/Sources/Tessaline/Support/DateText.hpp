#pragma once
// Dates are doubles: seconds since 1970-01-01 UTC. These helpers format and parse them
// without the C locale, so a German or Arabic desktop writes the same files.
// Pure functions, safe on any thread.

#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

using EpochSeconds = double;

// Current wall-clock time.
EpochSeconds nowEpoch();

// "2025-03-07T14:05:09Z": UTC, whole seconds (floored, so -0.5 is 1969-12-31T23:59:59Z).
std::string formatIso8601(EpochSeconds when);

// Parses "YYYY-MM-DDTHH:MM:SS" followed by "Z", "+HH:MM", "-HH:MM", "+HHMM" or nothing
// (nothing means UTC), with optional fractional seconds. nullopt on anything else.
std::optional<EpochSeconds> parseIso8601(std::string_view text);

// The strict form of the program's own files: "YYYY-MM-DDTHH:MM:SS" followed by "Z" or
// "+HH:MM"/"-HH:MM"; no fractional seconds, a zone required. nullopt on anything else.
std::optional<EpochSeconds> parseIso8601WholeSeconds(std::string_view text);

// The first moment of the local calendar day holding `when` (a day whose midnight is skipped
// by a daylight-saving change starts at the first moment that exists).
EpochSeconds localStartOfDay(EpochSeconds when);

// Seconds since 1970 of a broken-down UTC time (no range checks beyond the calendar's).
EpochSeconds epochFromUtc(int year, int month, int day, int hour, int minute, int second);

// Local-time stamps for archive folder and file names, in the system's time zone.
std::string localDayStamp(EpochSeconds when);       // "yyyy-MM-dd"
std::string localTimeStamp(EpochSeconds when);      // "HHmmss"
std::string localDayTimeStamp(EpochSeconds when);   // "yyyy-MM-dd HHmmss"
std::string localCompactStamp(EpochSeconds when);   // "yyyyMMdd-HHmmss"

}  // namespace tessaline
