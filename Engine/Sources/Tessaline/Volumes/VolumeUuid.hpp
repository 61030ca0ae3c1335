#pragma once
// The file-system UUID of a mounted volume, as text, found by the number of the block device
// behind the mount (MountEntry::blockDevice), whatever node the mount was made from: the udev
// database (ID_FS_UUID_ENC), else libblkid's probe, else the /dev/disk/by-uuid link that
// leads to the device. FAT and
// exFAT give their serial ("2A9C-A474"), ext4 lower-case RFC 4122 text; network shares and
// other mounts without a block device have none. Safe on any thread; never throws.

#include "Tessaline/Volumes/MountEntry.hpp"

#include <optional>
#include <string>

namespace tessaline {

std::optional<std::string> volumeUuid(const MountEntry& entry);

}  // namespace tessaline
