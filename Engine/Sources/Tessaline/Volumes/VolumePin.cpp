#include "Tessaline/Volumes/VolumePin.hpp"

#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tessaline {

namespace {

// Device and mount of what `dirfd`/`path` lead to, from one statx answer; the mount ID as
// lastingMountId gives it, absent on kernels before 5.8, where the device alone has to do.
struct Placement {
    dev_t device = 0;
    std::optional<uint64_t> mountId;
};

std::optional<Placement> placementOf(int dirfd, const char* path, int flags) {
    struct statx sx{};
    if (::statx(dirfd, path, flags, STATX_BASIC_STATS | lastingMountIdMask(), &sx) != 0) return std::nullopt;
    return Placement{makedev(sx.stx_dev_major, sx.stx_dev_minor), lastingMountIdIn(sx)};
}

bool matches(const VolumePin& pin, const std::optional<Placement>& placement) {
    if (!placement || placement->device != pin.device) return false;
    return !placement->mountId || *placement->mountId == pin.mountId;
}

// The mount table's entry for the mount `fd` lies on: by the table's own ID (which the
// lasting ID is not), else by the longest mount point leading to `path`.
std::optional<MountEntry> tableEntryOf(int fd, const std::filesystem::path& path) {
    MountTable table = MountTable::current();
    struct statx sx{};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID)) {
        const MountEntry* found = table.withId(static_cast<int>(sx.stx_mnt_id));
        return found ? std::optional<MountEntry>(*found) : std::nullopt;
    }
    auto canonical = canonicalExistingPath(path);
    return canonical ? table.containing(*canonical) : std::nullopt;
}

}  // namespace

std::optional<VolumePin> VolumePin::of(const std::filesystem::path& path) {
    // Both IDs read from one descriptor, so they are of one mount even while mounts change.
    UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    auto placement = placementOf(fd.get(), "", AT_EMPTY_PATH);
    if (!placement) return std::nullopt;
    auto entry = tableEntryOf(fd.get(), path);
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
