#pragma once
// Capture-time parsing for the metadata reader. Camera times carry no zone and are read
// as UTC, on the card and on every drive alike, so both sides of a match agree. Strict:
// the whole text must match, with calendar ranges checked (no rolling of 31 April into
// May). Pure functions, safe on any thread.

#include "Tessaline/Support/DateText.hpp"

#include <optional>
#include <string_view>

namespace tessaline {

// EXIF "yyyy:MM:dd HH:mm:ss" as UTC. `subsec` (SubSecTimeOriginal) adds its digits as a
// fraction, truncated to milliseconds ("5" and "50" are .5, "123456" is .123). Cameras pad
// the sub-second text with spaces or NULs: those are trimmed, and a sub-second text that
// is then empty or not all digits is ignored rather than costing the whole date.
std::optional<EpochSeconds> parseExifDate(std::string_view text, std::optional<std::string_view> subsec);

// A metadata date text, first match wins: ISO 8601 internet date-time with a zone
// ("Z", "+HH:MM" or "+HHMM") and optional fraction (truncated to milliseconds), then
// "yyyy-MM-dd HH:mm:ss" as UTC. nullopt for anything else.
std::optional<EpochSeconds> dateFromMetadataText(std::string_view text);

}  // namespace tessaline
