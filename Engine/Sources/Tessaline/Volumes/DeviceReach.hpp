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
// looked up instead. What cannot be followed is noted as untraced. Never throws.

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

    // Adds the device `device` (read whole) and everything below it.
    void addDevice(dev_t device) { add(device, Extent{}, 0); }
    // Adds every device of the btrfs file system holding `pathOnIt` (/sys/fs/btrfs/<fsid>/devices/).
    void addBtrfs(const std::filesystem::path& pathOnIt) { addBtrfs(pathOnIt, 0); }

    // Whether some device or image file is read by both, in ranges that overlap.
    bool meets(const DeviceReach& other) const;
    // The devices of the file systems holding the image files reached.
    const std::set<dev_t>& imageHolders() const { return holders_; }

    bool untraced = false;   // some loop device, device or btrfs could not be followed
    bool onOverlay = false;  // a device reached is an overlay's (an image file kept on one)

private:
    // An image file by its device and inode; a device with inode 0.
    using Node = std::pair<dev_t, ino_t>;

    void add(dev_t device, Extent extent, int depth);
    void addBtrfs(const std::filesystem::path& pathOnIt, int depth);
    void addLoop(const std::filesystem::path& folder, dev_t device, Extent extent, int depth);
    void addAnonymous(dev_t device, Extent extent, int depth);
    // True when the range is new for the node (not inside one already kept): worth walking.
    bool mark(const Node& node, Extent extent);

    std::optional<MountTable>& table_;
    std::map<Node, std::vector<Extent>> nodes_;
    std::set<dev_t> holders_;
};

}  // namespace tessaline
