#pragma once
// What the process serving a FUSE mount reads (internal to DeviceReach): the regular files and
// block devices it holds open, found through the kernel's own tie between a mount and its
// server: the connection number (the minor of the mount's anonymous device number) shown as
// "fuse_connection" in /proc/<pid>/fdinfo of each open /dev/fuse. Only processes this user may
// look into are seen (its own, or every one as root). Also says which FUSE file systems read
// no disk image: network ones and known pass-through mirrors. Any thread; never throws.

#include "Tessaline/Volumes/MountEntry.hpp"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <vector>

namespace tessaline {

struct FuseServerFiles {
    // "/proc/<pid>/fd/<n>" of each regular file or block device the server holds open: a
    // path that leads to the very file whatever its name now, in any root.
    std::vector<std::filesystem::path> files;
};

// The files of the process(es) serving FUSE connection `connection`; nullopt when no process
// holding that connection can be seen (gone, another user's, another PID namespace, or a
// kernel that shows no connection in fdinfo).
std::optional<FuseServerFiles> fuseServerFiles(unsigned connection);

// A FUSE file system that mirrors folders or reaches over a network (sshfs, bindfs, rclone ...):
// its files come from no disk image to follow.
bool isPassThroughFuse(const MountEntry& entry);
// A FUSE overlay (fuse-overlayfs): layered, as a kernel overlay.
bool isFuseOverlay(const MountEntry& entry);

}  // namespace tessaline
