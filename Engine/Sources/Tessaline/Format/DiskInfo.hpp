#pragma once
// What the disk tool learns about a mounted volume, as the keys that the reformat checks read
// (an absent key is nullopt, so the checks' fallbacks and their default-deny stay visible),
// plus what the reformat needs to find the same file system again. read() gathers it from
// findmnt, lsblk, the udev database, blkid (which reads the superblock for root only) and the
// engine's one internal/external classifier.
// Blocks on child processes; safe on any thread.

#include "Tessaline/Format/DiskTool.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct DiskInfo {
    std::optional<std::string> deviceIdentifier;           // the block device node, "/dev/sdb1"
    std::optional<std::string> volumeName;                 // the file system's label
    std::optional<std::string> mountPoint;
    std::optional<bool> internal;
    std::optional<bool> removableMedia;                    // the whole disk's removable flag
    std::optional<bool> ejectable;
    std::optional<int64_t> totalSize;                      // the device's size in bytes
    std::optional<std::string> filesystemUserVisibleName;  // "ExFAT", "MS-DOS (FAT32)", ...

    std::optional<std::string> uuid;    // the file system's UUID (FAT/exFAT: the serial)
    std::optional<std::string> fsType;  // the on-disk type ("exfat", "vfat", "ext4")
    std::string deviceType;             // lsblk's type: "part", "disk" or "loop"
    std::string wholeDisk;              // the disk holding the device ("/dev/sdb")
    bool onSystemDisk = false;          // shares a whole disk with the system's file systems or swap

    // Reads the volume mounted exactly at `volumeAt`. Throws DriveFormatError::cannotInspect
    // when nothing is mounted there, when the mount has no block device behind it, or when
    // the device is not a partition, whole disk or loop device; diskutilFailed when a tool
    // cannot run or fails unexpectedly.
    static DiskInfo read(const std::filesystem::path& volumeAt, const DiskTool& tool);

    // The name people know a file-system type by ("vfat" + "FAT32" gives "MS-DOS (FAT32)");
    // "unknown" for no type and for "fuseblk", which names no file system.
    static std::string userVisibleName(const std::string& fsType, const std::optional<std::string>& version);

    // The mount points of block device `device`, in findmnt's order (empty when none).
    static std::vector<std::string> mountPointsOf(const std::string& device, const DiskTool& tool);
};

}  // namespace tessaline
