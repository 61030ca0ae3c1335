#pragma once
// One line of the kernel's mount table (/proc/self/mountinfo), decoded: a plain value.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

struct MountEntry {
    int id = 0;                         // mount ID; stable for the mount's life, kept by a remount
    int parentId = 0;
    dev_t deviceNumber = 0;             // st_dev of files on it (anonymous for btrfs and FUSE)
    std::string source;                 // "/dev/sdb1", "server:/share", "tmpfs"
    std::filesystem::path mountPoint;   // decoded ("\040" is a space), no trailing "/"
    std::string root;                   // the folder of the file system mounted here ("/" usually)
    std::string fsType;                 // "ext4", "fuseblk", "nfs4"
    std::string superOptions;           // the file system's own options ("rw,logdev=/dev/sdc1")
    bool isPseudo = false;              // proc, sysfs, tmpfs, cgroup, overlay ... (libmount's list)
    bool isNetwork = false;             // nfs, cifs, sshfs, 9p ...

    // True when the source is a block device node under /dev/ (kernel file systems and fuseblk).
    bool isBlockBacked() const;
    // The block device's number: the mount's own device number for a kernel file system on a
    // block device, else st_rdev of the source node wherever it lies (outside /dev, a link);
    // nullopt when no block device is behind the mount.
    std::optional<dev_t> blockDevice() const;
    // True for FUSE mounts, whose daemon may hang: never stat or ioctl them on a UI path.
    bool isFuse() const;

    friend bool operator==(const MountEntry&, const MountEntry&) = default;
};

}  // namespace tessaline
