#include "Tessaline/Volumes/VolumePin.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tessaline {

namespace {

// Device and mount of what `dirfd`/`path` lead to; the mount id is absent on kernels
// before 5.8, where the device alone has to do.
struct Placement {
    dev_t device = 0;
    std::optional<uint64_t> mountId;
};

std::optional<Placement> placementOf(int dirfd, const char* path, int flags) {
    struct statx sx{};
    if (::statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0) return std::nullopt;
    Placement placement;
    placement.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    if (sx.stx_mask & STATX_MNT_ID) placement.mountId = sx.stx_mnt_id;
    return placement;
}

bool matches(const VolumePin& pin, const std::optional<Placement>& placement) {
    if (!placement || placement->device != pin.device) return false;
    return !placement->mountId || *placement->mountId == pin.mountId;
}

}  // namespace

std::optional<VolumePin> VolumePin::of(const std::filesystem::path& path) {
    auto placement = placementOf(AT_FDCWD, path.c_str(), 0);
    if (!placement) return std::nullopt;
    MountTable table = MountTable::current();
    std::optional<MountEntry> entry;
    if (placement->mountId) {
        if (const MountEntry* found = table.withId(static_cast<int>(*placement->mountId))) entry = *found;
    } else if (auto canonical = canonicalExistingPath(path)) {
        entry = table.containing(*canonical);
    }
    if (!entry) return std::nullopt;
    VolumePin pin;
    pin.mountPoint = entry->mountPoint;
    pin.mountId = placement->mountId.value_or(static_cast<uint64_t>(entry->id));
    pin.device = placement->device;
    pin.uuid = volumeUuid(*entry);
    return pin;
}

bool VolumePin::holds(int fd) const { return matches(*this, placementOf(fd, "", AT_EMPTY_PATH)); }

bool VolumePin::holds(const std::filesystem::path& path) const {
    return matches(*this, placementOf(AT_FDCWD, path.c_str(), 0));
}

bool VolumePin::isReachable() const { return holds(mountPoint); }

}  // namespace tessaline
