#pragma once
// Atomic replacement of the program's own files (exports, meta.json, JSON stores; never
// copied media): a temporary file beside the target, written whole, fsync'd, renamed over
// the final name, then the folder fsync'd. A reader sees the old file or the new one, never
// a part. Safe on any thread; concurrent writers of one path: the last rename wins.

#include <filesystem>
#include <string>
#include <string_view>

namespace tessaline {

// Writes `bytes` to `path` atomically with mode 0644. The parent folder must exist.
// Throws FileWriteError; on failure the temporary file is removed and `path` is untouched.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` as a new file in `folder` (which must exist) and returns its path: under
// `name`, or, when that is taken, the first free of "<stem> 2.<ext>", "<stem> 3.<ext>" ...
// (numberedFileName). Nothing there is ever replaced: the complete, flushed file takes its
// name only where no entry stands (renameat2 RENAME_NOREPLACE, or a checked fallback).
// Throws FileWriteError; on failure nothing is left behind.
std::filesystem::path writeNewFileAtomically(const std::filesystem::path& folder, const std::string& name,
                                             std::string_view bytes);

// `name` with " <number>" before its extension ("Report.txt", 2 → "Report 2.txt";
// "README", 3 → "README 3"); unchanged for a number below 2.
std::string numberedFileName(const std::string& name, int number);

// Creates `folder` and its missing parents with `mode`. Throws FileWriteError.
void createFolders(const std::filesystem::path& folder, unsigned mode = 0755);

}  // namespace tessaline
