#pragma once
// Walks one folder tree (a card, a drive, or a folder on either) into media and sidecar
// files, leaving out hidden items, junk folders and files, and unclassified files.
// Reads directory entries and their types and sizes only, never file contents.
// Synchronous, on the caller's thread; separate scanners may run at once.

#include "Tessaline/Scanner/ScanResult.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>

namespace tessaline {

class FolderScanner {
public:
    FolderScanner();  // the default lists

    // The lists, for tests and callers that need to reason about them.
    static const std::unordered_set<std::string>& mediaExtensions();  // 56
    const std::unordered_set<std::string>& sidecarExtensions() const { return sidecarExtensions_; }
    const std::unordered_set<std::string>& junkDirectories() const { return junkDirectories_; }
    const std::unordered_set<std::string>& junkExtensions() const { return junkExtensions_; }
    const std::unordered_set<std::string>& junkFilenames() const { return junkFilenames_; }

    // Walks `root`. With includeAllFiles, files of unlisted types are taken as media;
    // without it they are counted as skipped and listed as other files.
    // `excluding` names a subtree left out of the walk and the counts (a drive scan passes
    // the card root), matched by device and inode and by path.
    // `otherNames`, when given, limits the sidecar and other files listed to those whose
    // ASCII-lowercased name is in it (a drive walk looks only for the names the card's
    // sidecars and other files have, so a drive full of unrelated files costs no more memory
    // than its media); skipped files are counted either way, and left-out sidecars are not
    // part of totalCount.
    // Throws ScanError::cannotEnumerate(root) when the root cannot be opened as a folder;
    // unreadable folders below it are listed in the result and the walk goes on.
    ScanResult scan(const std::filesystem::path& root, bool includeAllFiles,
                    const std::optional<std::filesystem::path>& excluding = std::nullopt,
                    const std::unordered_set<std::string>* otherNames = nullptr) const;

private:
    std::unordered_set<std::string> sidecarExtensions_;
    std::unordered_set<std::string> junkDirectories_;
    std::unordered_set<std::string> junkExtensions_;
    std::unordered_set<std::string> junkFilenames_;
};

}  // namespace tessaline
