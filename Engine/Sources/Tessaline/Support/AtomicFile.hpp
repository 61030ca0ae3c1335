#pragma once
// Atomic replacement of the program's own files (exports, meta.json, JSON stores; never
// copied media): a temporary file beside the target, written whole, fsync'd, renamed over
// the final name, then the folder fsync'd. A reader sees the old file or the new one, never
// a part. Safe on any thread; concurrent writers of one path: the last rename wins.

#include <filesystem>
#include <string_view>

namespace tessaline {

// Writes `bytes` to `path` atomically with mode 0644. The parent folder must exist.
// Throws FileWriteError; on failure the temporary file is removed and `path` is untouched.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Creates `folder` and its missing parents with `mode`. Throws FileWriteError.
void createFolders(const std::filesystem::path& folder, unsigned mode = 0755);

}  // namespace tessaline
