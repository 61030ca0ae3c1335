#pragma once
// Reads a block device's file-system superblock with libblkid (low-level probe, no cache).
// Needs read access to the device node (root, or the disk group). Any thread; never throws.

#include <optional>
#include <string>

namespace tessaline {

struct FileSystemTags {
    std::optional<std::string> label;  // absent when the file system has none ("NO NAME" counts as none)
    std::optional<std::string> uuid;   // FAT/exFAT give their serial ("2A9C-A474")
    std::optional<std::string> type;   // "ext4", "exfat", "vfat"
};

// The tags of the file system on `devicePath` ("/dev/loop3"); all absent when it cannot be
// opened or holds no recognisable file system.
FileSystemTags probeFileSystem(const std::string& devicePath);

}  // namespace tessaline
