#pragma once
// Everything a file system's bytes lie in (internal to ProofGround), walked down from its
// device through the kernel's own links, never through the mount table's text: a partition's
// disk, a loop device's backing device or backing file, device-mapper and md members
// (/sys/class/block/<dev>/slaves), btrfs devices, and for a FUSE block file system the device
// its mount was made from, wherever that node lies. Each device or image file is kept with the
// byte ranges of it that are read: a partition reads its range of the disk, a loop device its
// offset and size limit of its backing; device-mapper and md members and btrfs devices count
// as read whole. The file systems holding the image files reached are kept apart: the bytes
// lie inside one file of them, not beside their other files.
// A loop device's backing is asked of the device (LOOP_GET_STATUS64: lo_rdevice for a block
// device, lo_device and lo_inode for a file); where it cannot be opened (a user outside the
// disk group), the path the kernel shows every user in /sys/block/<loop>/loop/backing_file is
// looked up instead.
// A device number of major 0 (no block device of its own) is followed by what holds it: a path
// on it, when one is known and lies on it (statfs: btrfs gives its devices, an overlay is noted
// as such), else the mount table's entry of that number, else a btrfs mount whose root carries
// it (btrfs numbers every subvolume, the top-level one included, apart from its mount entry).
// The entry's source is never followed: it is the text the mount was made with, which the
// kernel ties to nothing (relative, deleted since, a /proc/<pid>/fd path of another program, a
// link pointed elsewhere since). So a kernel file system of such a number reads no device of
// this machine only where its type says so (memory, kernel-made and network file systems);
// any other (erofs mounted straight from a file, ZFS) can't be followed.
// A file system of a block device is also followed to the devices it reads beyond it
// (ExtraDevices: an ext4 external journal), or noted as unfollowed where they can't be.
// A FUSE file system is followed to its image: a regular file or block device its serving
// process holds open (the process holding /dev/fuse for that connection, /proc/<pid>/fdinfo's
// "fuse_connection") that is the very file its source names or that carries an image's
// signature (ImageSignature); network and pass-through FUSE file systems, and memory file
// systems, read no device. What cannot be followed is noted, by kind. Never throws.

#include "Tessaline/Volumes/MountTable.hpp"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace tessaline {

class DeviceReach {
public:
    // A byte range [begin, end) of a device or file; `end` at its largest means to the end.
    struct Extent {
        uint64_t begin = 0;
        uint64_t end = UINT64_MAX;
        bool meets(const Extent& other) const { return begin < other.end && other.begin < end; }
        bool holds(const Extent& other) const { return begin <= other.begin && other.end <= end; }
    };

    // `table` is read on first need and shared by the walks of one judgement.
    explicit DeviceReach(std::optional<MountTable>& table) : table_(table) {}

    // Adds the file system on `device` (read whole), everything below it, and the devices it
    // reads beyond it (ExtraDevices); `pathOnIt`, when given, is a path whose file system may
    // tell what a device number of major 0 stands for.
    void addFileSystem(dev_t device, const std::filesystem::path& pathOnIt = {});
    // Adds every device of the btrfs file system holding `pathOnIt` (/sys/fs/btrfs/<fsid>/devices/).
    void addBtrfs(const std::filesystem::path& pathOnIt) { addBtrfs(pathOnIt, 0); }

    // Whether some device or image file is read by both, in ranges that overlap.
    bool meets(const DeviceReach& other) const;
    // The devices of the file systems holding the image files reached, each with a path to
    // one of those files where one is known ("" where not).
    const std::map<dev_t, std::filesystem::path>& imageHolders() const { return holders_; }

    bool untraced = false;       // a loop device's backing, a device or a btrfs could not be followed
    bool unfollowed = false;     // a device number of major 0 that nothing known stands for, or a
                                 // device a file system reads beyond its own that can't be followed
    bool fileUnfollowed = false; // a kernel file system mounted straight from a file (no loop device)
    bool fuseUnlocated = false;  // a FUSE file system whose image or device could not be found
    bool onOverlay = false;      // a device reached is an overlay's (an image file kept on one)

private:
    // An image file by its device and inode; a device with inode 0.
    using Node = std::pair<dev_t, ino_t>;

    void add(dev_t device, Extent extent, int depth, const std::filesystem::path& pathOnIt = {});
    void addBtrfs(const std::filesystem::path& pathOnIt, int depth);
    void addLoop(const std::filesystem::path& folder, dev_t device, Extent extent, int depth);
    void addAnonymous(dev_t device, int depth, const std::filesystem::path& pathOnIt);
    void addFuse(const MountEntry& entry, dev_t device, int depth);
    // An image file (its device and inode), read in `extent`; `path` leads to it where known.
    void addFile(dev_t fileDevice, ino_t inode, Extent extent, const std::filesystem::path& path);
    // True when the range is new for the node (not inside one already kept): worth walking.
    bool mark(const Node& node, Extent extent);

    std::optional<MountTable>& table_;
    std::map<Node, std::vector<Extent>> nodes_;
    std::map<dev_t, std::filesystem::path> holders_;
};

}  // namespace tessaline
