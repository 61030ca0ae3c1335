#pragma once
// The one rule of the engine that tells internal volumes from external ones (cards, USB
// drives, disk images), read from sysfs. Every user (listing, erase, reformat, pickers)
// goes through it. Reads sysfs and the mount table afresh on each call; safe on any
// thread; never throws.
//
// External: a loop or nbd device (a mounted disk image); a disk below a usb, ieee1394,
// memstick or pcmcia bus; an SD card (mmcblk with device/type "SD", eMMC is internal);
// a disk whose whole-disk "removable" flag is 1; a disk below a device whose "removable"
// attribute reads "removable" (hot-plug PCIe/Thunderbolt); a device-mapper or md device
// whose underlying disks are all external.
// Always internal, whatever the above says: anything on the same whole disk as "/",
// /boot, /usr, /var, /home or an active swap area. Unknown devices count as internal.

#include "Tessaline/Volumes/MountEntry.hpp"
#include "Tessaline/Volumes/VolumeClass.hpp"

#include <sys/types.h>

#include <filesystem>

namespace tessaline {

class VolumeClassifier {
public:
    // The class of block device number `device` (partition, whole disk, loop, dm, md).
    static VolumeClass classifyDevice(dev_t device);
    // The class of the block device node at `devicePath` ("/dev/sdb1"); internal when it
    // is not a block device.
    static VolumeClass classifyDevicePath(const std::filesystem::path& devicePath);
    // The class of a mounted file system: by its block device; network shares are external
    // (not removable, ejectable); anything else without a block device is internal.
    static VolumeClass classifyMount(const MountEntry& entry);
    // The class of the mount holding `path`; internal when the path does not exist.
    static VolumeClass classifyPath(const std::filesystem::path& path);
    // True when block device `device` shares a whole disk with the system's own file
    // systems or swap.
    static bool isOnSystemDisk(dev_t device);
};

}  // namespace tessaline
