#pragma once
// Where a file or folder lies inside its file system, whatever mount it is reached through:
// a bind mount of a card folder at /mnt/x and the folder itself on the card's own mount
// have the same place. Plain value; FileSystemPlaces finds the place of a path.

#include <sys/types.h>

#include <optional>
#include <string>

namespace tessaline {

struct FileSystemPlace {
    // The file system's device number as the mount table gives it: shared by every mount of
    // one file system (bind mounts, btrfs subvolumes), unlike st_dev of btrfs files.
    dev_t device = 0;
    // The file system's UUID when a block device is behind the mount: tells a second,
    // separate mount of the same device (another FUSE daemon) to be the same file system.
    std::optional<std::string> uuid;
    // The path from the file system's own root: "/" for the root, "/DCIM/100CANON" below it.
    // The mount's root in the file system joined with the path below its mount point.
    std::string path;

    // Same device number, or the same UUID on both sides.
    bool isSameFileSystem(const FileSystemPlace& other) const;
    // In the same file system as `folder`, and the same place or below it component-wise
    // ("/DCIM2" is not below "/DCIM").
    bool isSameOrBelow(const FileSystemPlace& folder) const;

    friend bool operator==(const FileSystemPlace&, const FileSystemPlace&) = default;
};

}  // namespace tessaline
