#pragma once
// Counts in sentences for people, each with the noun it counts, singular for exactly one:
// "1 file", "3 files", "0 clips", "1 clip (3 files)". Every screen, banner, menu and report
// text of the system writes its counts through these. Plain decimal digits, no grouping.
// Pure functions, safe on any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaline {

// `count` and `singular` when it is exactly 1, else `count` and `plural`.
std::string countText(int64_t count, std::string_view singular, std::string_view plural);

// The noun alone, as countText() would put it after `count` ("file" or "files"), for texts
// where the count stands elsewhere ("1 of 3 files").
std::string_view nounFor(int64_t count, std::string_view singular, std::string_view plural);

// A whole counted as one: "All 3 files", "All 0 files", and "The 1 file" for exactly one.
std::string allOf(int64_t count, std::string_view singular, std::string_view plural);

// "<part> of <total> <noun>" with the noun fitting the total: "1 of 1 file", "2 of 5 files".
std::string partOf(int64_t part, int64_t total, std::string_view singular, std::string_view plural);

// Clips and the files they are made of: "3 clips", or "1 clip (3 files)" when the files are
// more than the clips (sidecars, spanned pieces).
std::string clipsAndFiles(int64_t clips, int64_t files);

}  // namespace tessaline
