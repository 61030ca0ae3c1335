#pragma once
// The destination folder of one copy run (internal to the copy engine). It is created if
// missing when the run starts and its device and inode are recorded; before each file the
// run checks that the same folder is still there, so a drive pulled mid-run fails the
// remaining files instead of filling the folder left behind on the internal disk.
// Subfolders are only ever created below it.

#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

class DestinationRoot {
public:
    // With `volume`, the root must lie on that volume as well.
    DestinationRoot(CopyFileIO& io, std::filesystem::path root, std::optional<VolumePin> volume = std::nullopt);

    const std::filesystem::path& path() const { return root_; }

    // Why nothing can be written now, or nullopt when the recorded folder is in place.
    std::optional<std::string> unavailableReason() const;

    // Creates the folders of `relativeFolder` ("a/b", or "" for none) below the root.
    // Returns the failure's reason ("Couldn't create destination folder: …") or nullopt.
    std::optional<std::string> createFolders(const std::string& relativeFolder) const;

private:
    CopyFileIO& io_;
    std::filesystem::path root_;
    std::optional<VolumePin> volume_;
    std::optional<std::string> startFailure_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace tessaline
