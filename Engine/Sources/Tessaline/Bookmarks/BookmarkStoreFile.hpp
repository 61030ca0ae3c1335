#pragma once
// The file form of the access grants, "bookmarks.json": a compact JSON array of objects
// {"label": <text>, "bookmark": <base64 of the bookmark data>}, "label" first, every "/"
// written as "\/". Readers accept either spelling of "/". Used by SecurityScopedBookmarkStore
// under its lock; the functions themselves do no locking.

#include <filesystem>
#include <string>
#include <vector>

namespace tessaline {

struct BookmarkEntry {
    std::string label;
    std::string bookmark;  // the bookmark data (decoded bytes)
};

struct BookmarkFileContents {
    std::vector<BookmarkEntry> entries;  // the entries that could be decoded, file order
    // True when the file exists but could not be read or decoded whole: it must be kept
    // aside before it is replaced.
    bool damaged = false;
};

// Never throws: a missing file is empty and undamaged.
BookmarkFileContents loadBookmarkFile(const std::filesystem::path& file);

// Writes `entries` whole and atomically, creating the folder; a damaged file is first
// renamed aside. Throws FileWriteError.
void saveBookmarkFile(const std::filesystem::path& file, const std::vector<BookmarkEntry>& entries, bool damaged);

}  // namespace tessaline
