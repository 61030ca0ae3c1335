#pragma once
// Atomic replacement of the program's own files (exports, meta.json, JSON stores; never
// copied media): a temporary file beside the target, written whole, fsync'd, renamed over
// the final name, then the folder fsync'd. A reader sees the old file or the new one, never
// a part. The temporary file's name is short and independent of the final name
// (".brindlecove-<16 hex>.tmp"), so every final name the file system takes (255 bytes) can
// be written. Safe on any thread; concurrent writers of one path: the last rename wins.
// Flushes and renames go through `calls`, the seam tests fail.

#include "Tessaline/Support/FileCalls.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace tessaline {

// The longest file name, in bytes, that the file systems we write take (ext4, XFS, btrfs;
// exFAT and FAT take 255 UTF-16 units, never fewer than 255 bytes of UTF-8).
inline constexpr size_t maxFileNameBytes = 255;

// Writes `bytes` to `path` atomically with mode 0644. The parent folder must exist.
// Throws FileWriteError; on a failure before the rename the temporary file is removed and
// `path` is untouched. A failed flush of the folder after the rename is a failure too: the
// new file may not survive a crash.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         FileCalls& calls = FileCalls::system());

// Writes `bytes` as a new file in `folder` (which must exist) and returns its path: under
// `name`, or, when that is taken, the first free of "<stem> 2.<ext>", "<stem> 3.<ext>" ...
// (numberedFileName). Nothing there is ever replaced: the complete, flushed file takes its
// name only where no entry stands (renameat2 RENAME_NOREPLACE, or a checked fallback).
// Throws FileWriteError; on failure nothing is left behind (a file that took its name but
// whose folder could not be flushed is removed again).
std::filesystem::path writeNewFileAtomically(const std::filesystem::path& folder, const std::string& name,
                                             std::string_view bytes, FileCalls& calls = FileCalls::system());

// `name` with " <number>" before its extension ("Report.txt", 2 → "Report 2.txt";
// "README", 3 → "README 3"); unchanged for a number below 2. The stem is shortened, never
// splitting a UTF-8 character, so that the result fits in maxFileNameBytes.
std::string numberedFileName(const std::string& name, int number);

// `text` cut to at most `maxBytes` bytes, never splitting a UTF-8 character.
std::string truncatedUtf8(std::string text, size_t maxBytes);

// Creates `folder` and its missing parents with `mode`. Throws FileWriteError.
void createFolders(const std::filesystem::path& folder, unsigned mode = 0755);

}  // namespace tessaline
