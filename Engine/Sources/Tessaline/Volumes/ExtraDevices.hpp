#pragma once
// The devices a mounted file system reads besides the one it was mounted from (internal to
// DeviceReach), each taken from what the kernel or the file system's own superblock names:
// - ext2/3/4: an external journal, named by the kernel's journal thread of the file system
//   (/sys/fs/ext4/<dev>/journal_task, whose thread is "jbd2/<journal device>"); an internal
//   journal is told by its entry "<dev>-<inode>" in /proc/fs/jbd2;
// - XFS: a log or realtime device (logdev=, rtdev=), which the kernel names only by the text
//   the mount was made with: never followed;
// - erofs: the extra devices of its superblock's device table, which the kernel names by no
//   link at all: never followed;
// - f2fs: the devices of a multi-device superblock: never followed.
// A superblock that can't be read (a user outside the disk group) leaves its extra devices
// unknown, which counts as unfollowed. Any thread; never throws.

#include "Tessaline/Volumes/MountEntry.hpp"

#include <sys/types.h>

#include <vector>

namespace tessaline {

struct ExtraDevices {
    std::vector<dev_t> devices;  // followed: read whole
    bool unfollowed = false;     // some device it reads can't be followed
};

// What the file system mounted as `entry`, on block device `device`, reads beyond `device`.
ExtraDevices extraDevicesOf(const MountEntry& entry, dev_t device);

}  // namespace tessaline
