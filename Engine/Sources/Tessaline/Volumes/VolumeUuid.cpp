#include "Tessaline/Volumes/VolumeUuid.hpp"

#include "Tessaline/Volumes/BlkidProbe.hpp"
#include "Tessaline/Volumes/BlockDeviceNode.hpp"
#include "Tessaline/Volumes/UdevDatabase.hpp"

#include <sys/stat.h>

#include <filesystem>

namespace tessaline {

namespace {

std::optional<std::string> uuidFromByUuidLinks(dev_t device) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev/disk/by-uuid", ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st{};
        if (::stat(it->path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device)
            return it->path().filename().string();
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> volumeUuid(const MountEntry& entry) {
    auto device = entry.blockDevice();
    if (!device) return std::nullopt;
    if (auto uuid = udevProperty(*device, "ID_FS_UUID_ENC")) return uuid;
    if (auto uuid = udevProperty(*device, "ID_FS_UUID")) return uuid;
    // Probed through the kernel's node for that device number, else the node the mount names
    // when it still leads to that device.
    if (auto node = blockDeviceNode(*device))
        if (auto uuid = probeFileSystem(node->string()).uuid) return uuid;
    struct stat st{};
    if (::stat(entry.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == *device)
        if (auto uuid = probeFileSystem(entry.source).uuid) return uuid;
    return uuidFromByUuidLinks(*device);
}

}  // namespace tessaline
