#pragma once
// Path helpers that keep file names as raw bytes. Linux paths need not be valid UTF-8,
// so file operations always use the bytes; text outputs (JSON, XML, CSV, PDF, reports)
// go through toDisplayUtf8(). Pure functions, safe on any thread.

#include <filesystem>
#include <string>
#include <string_view>

namespace tessaline {

// Text after the last "." of the last component; empty when there is none.
// ".mov" gives "mov" and "file." gives "" (unlike std::filesystem::path::extension).
std::string pathExtension(const std::filesystem::path& path);

// The last component ("/a/b.mov" gives "b.mov"; "/" gives "/"). A trailing "/" is ignored.
std::string lastComponent(const std::filesystem::path& path);

// The last component without its extension ("A001C002.MOV" gives "A001C002").
std::string stemOf(const std::filesystem::path& path);

// Removes trailing "/" (but keeps "/" itself).
std::string withoutTrailingSlash(std::string_view path);

// Absolute, lexically normal, no trailing "/" except "/" itself, "//" folded to "/".
// Relative paths are made absolute against the current directory.
std::filesystem::path normalizedPath(const std::filesystem::path& path);

// The path as valid UTF-8 text: ill-formed byte sequences become U+FFFD.
std::string toDisplayUtf8(std::string_view bytes);
std::string toDisplayUtf8(const std::filesystem::path& path);
// Text for one line that people read: toDisplayUtf8's, with every control character (C0, C1
// and DEL), every line or paragraph separator (U+2028, U+2029) and every bidirectional
// embedding, override or isolate (U+202A-U+202E, U+2066-U+2069) shown as U+FFFD, so a file
// name never breaks or reorders the line it is shown in. Never for what other programs read back.
std::string singleLineText(std::string_view bytes);

// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// True when `child` equals `folder` or lies below it, compared component-wise on
// normalised paths ("/a/bc" is not below "/a/b").
bool isSameOrBelow(const std::filesystem::path& child, const std::filesystem::path& folder);
// The same test for paths already in normalizedPath()'s form (or realpath's), without
// normalising them again: for loops that test many paths against one folder.
bool isSameOrBelowNormalized(std::string_view child, std::string_view folder);

}  // namespace tessaline
