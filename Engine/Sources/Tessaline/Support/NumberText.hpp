#pragma once
// Locale-independent number text. Qt sets the process locale to the user's, so printf
// would write "1,2 MB" under de_DE; these never do. Pure functions, safe on any thread.

#include <cstdint>
#include <string>

namespace tessaline {

// `value` with exactly `decimals` digits after a "." (printf "%.Nf" in the C locale:
// exact binary ties round to even, so 1.25 gives "1.2").
std::string fixedText(double value, int decimals);

// Sizes for people, decimal units: "Zero KB", "1 byte", "532 bytes", "12 KB" (no decimals),
// "1.2 MB" (one), "3.46 GB" (two, also TB and PB); trailing zeros dropped ("3 MB").
std::string formatFileSize(int64_t bytes);

// A whole number with "," between each group of three digits ("18,000", "-1,234,567"), the
// same in every locale, for report files people read.
std::string groupedText(int64_t value);

// The value of one hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(char c);

}  // namespace tessaline
