#pragma once

#include "Tessaline/Scanner/MediaFile.hpp"

#include <filesystem>
#include <vector>

namespace tessaline {

// The outcome of one folder walk.
struct ScanResult {
    std::vector<MediaFile> mediaFiles;    // all of kind media, sorted by path (byte order)
    std::vector<MediaFile> sidecarFiles;  // all of kind sidecar, sorted by path
    int skippedCount = 0;                 // hidden, junk and unclassified items passed over
    // The unclassified files among them (without includeAllFiles): regular, not hidden, not
    // junk, of kind other, sorted by path. An erase deletes them too, so the scan proves them.
    // Not part of totalCount.
    std::vector<MediaFile> otherFiles;
    // Folders inside the tree that could not be opened or read to the end, sorted. Their
    // contents are unknown, so a card with any of these is never called safe.
    std::vector<std::filesystem::path> unreadableFolders;

    int totalCount() const { return static_cast<int>(mediaFiles.size() + sidecarFiles.size()); }
};

}  // namespace tessaline
