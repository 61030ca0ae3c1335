#pragma once
// The node under /dev of a block device given by number, found from the kernel's own name
// for it (/sys/dev/block/<major>:<minor>/uevent, DEVNAME) and checked to be that very device;
// never from the text a mount was made with, which may name a node made anywhere, a link,
// or one that is gone. Any thread; never throws.

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace tessaline {

// "/dev/loop3" for 7:3; nullopt when the device is unknown to sysfs or /dev holds no node
// of that number under the kernel's name.
std::optional<std::filesystem::path> blockDeviceNode(dev_t device);

}  // namespace tessaline
