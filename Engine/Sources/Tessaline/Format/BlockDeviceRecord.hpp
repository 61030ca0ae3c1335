#pragma once
// One block device as lsblk reports it in JSON (-J -b): path, kernel name, parent, type,
// size, removable and hot-plug flags, transport and mount points. Plain value; parsing is
// pure and safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct BlockDeviceRecord {
    std::string path;                         // "/dev/sdb1"
    std::string kernelName;                   // "sdb1"
    std::optional<std::string> parentKernelName;  // "sdb" for a partition; nullopt for a whole disk
    std::string type;                         // "part", "disk", "loop", "crypt", "lvm", "rom", ...
    std::optional<int64_t> sizeBytes;
    bool removable = false;
    bool hotplug = false;
    std::optional<std::string> transport;     // "usb", "sata", ...; nullopt when unknown
    std::vector<std::string> mountPoints;     // null entries dropped; swap shows as "[SWAP]"

    // Every device in lsblk's JSON output ("blockdevices", nested "children" included), in
    // output order; nullopt when the text is not such JSON. lsblk without udev lists
    // partitions beside their disk instead of below it; both forms give the same list.
    static std::optional<std::vector<BlockDeviceRecord>> fromLsblkJson(std::string_view json);
};

}  // namespace tessaline
