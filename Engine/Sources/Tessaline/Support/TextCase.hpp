#pragma once
// Case and Unicode helpers shared by every comparison the engine makes on names, so a
// card and a drive always fold the same way. Pure functions, safe on any thread.

#include <string>
#include <string_view>

namespace tessaline {

// Full Unicode lower-casing (root locale). For text that is not valid UTF-8, only ASCII
// letters are lowered and every other byte is kept.
std::string lowercased(std::string_view text);

// ASCII-only lower-casing, for extension and fixed-list lookups.
std::string asciiLowercased(std::string_view text);

// NFC form of valid UTF-8; other bytes are returned unchanged.
std::string nfcNormalized(std::string_view text);

// Case-insensitive equality with canonical equivalence ("ß" equals "SS", NFC equals NFD).
// Invalid UTF-8 falls back to ASCII case-insensitive byte equality.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Removes Unicode White_Space from both ends.
std::string trimmedWhitespace(std::string_view text);

}  // namespace tessaline

namespace tessaline {

// Full Unicode upper-casing (root locale: "ß" becomes "SS"). For text that is not valid
// UTF-8, only ASCII letters are raised and every other byte is kept.
std::string uppercased(std::string_view text);

}  // namespace tessaline
