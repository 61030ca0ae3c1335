#pragma once
// What the system says about a folder picked as a card root: whether it is the root of a
// volume with a block device behind it, and if so whether that volume is the root file
// system or internal (by the engine's one classifier). Reads the mount table and sysfs
// afresh; safe on any thread; never throws.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

struct CardRootVolume {
    std::filesystem::path canonicalPath;  // the folder with its links resolved
    dev_t device = 0;                     // st_dev of the folder (its files have the same)
    ino_t inode = 0;                      // st_ino of the folder
    // The mount the path reaches (lastingMountId; the mount table's ID where the kernel gives
    // none). A remount makes a new one.
    uint64_t mountId = 0;
    std::optional<std::string> fileSystemUuid;  // the volume's UUID (serial on FAT/exFAT)
    bool isRootFileSystem = false;        // the same file system as "/"
    bool isInternal = true;

    // The facts of `path`, or nullopt when it is not the root of a mounted volume backed by a
    // block device: a folder inside a volume, a bind mount of a folder, a tmpfs, proc or
    // network mount, or a path that does not exist.
    static std::optional<CardRootVolume> read(const std::filesystem::path& path);
};

}  // namespace tessaline
