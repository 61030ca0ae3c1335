#pragma once
// A small bounds-checked reader of the movie-level QuickTime metadata items
// (moov/meta with an "mdta" handler: the "keys" table and the "ilst" items) and of the
// movie header's creation time. FFmpeg's metadata dictionary keeps one value per key and
// turns numbers into text; the fingerprint needs every item in order with its value kind
// (a later numeric Make item clears the make; a second creation-date item may be the
// parseable one).
//
// Files on a card are untrusted: every read is bounds-checked, 32- and 64-bit box sizes and
// size 0 ("to the end of the enclosing box") are handled, box counts are capped, and a meta
// box above 16 MiB is not read. A malformed meta box yields no items; it never throws.
// Pure functions, safe on any thread.

#include "Tessaline/Support/DateText.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessaline {

struct QuickTimeItem {
    // "<key namespace>/<key name>", e.g. "mdta/com.apple.quicktime.make".
    std::string identifier;
    // The value as UTF-8 when its data type is text (UTF-8 or UTF-16BE); nullopt for
    // numbers, binary data and every other type.
    std::optional<std::string> text;
};

struct QuickTimeMovieMetadata {
    bool movieFound = false;                   // a complete moov box was found
    std::optional<EpochSeconds> creationDate;  // movie header time; absent when 0 or unreadable
    std::vector<QuickTimeItem> items;          // one per data atom, in file order
};

// Reads the metadata of a QuickTime or ISO media file held in memory.
QuickTimeMovieMetadata readQuickTimeMetadata(std::span<const uint8_t> file);

// Reads the metadata of the regular file at `path` (anything else gives an empty result).
// Only box headers, the movie header and the meta box are read, never the media data.
QuickTimeMovieMetadata readQuickTimeMetadata(const std::filesystem::path& path);

}  // namespace tessaline
