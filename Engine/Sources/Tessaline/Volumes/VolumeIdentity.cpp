#include "Tessaline/Volumes/VolumeIdentity.hpp"

#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <set>

namespace tessaline {

namespace {

// File systems whose root folder is born at mkfs time, so its birth time names the
// format. FAT keeps no root times, and the exfat drivers give the root the mount time.
bool rootBirthTimeIsCreationDate(const std::string& fsType) {
    static const std::set<std::string> types = {"ext2", "ext3", "ext4", "xfs", "btrfs"};
    return types.count(fsType) != 0;
}

std::optional<EpochSeconds> rootBirthTime(const MountEntry& entry) {
    if (!rootBirthTimeIsCreationDate(entry.fsType)) return std::nullopt;
    struct statx sx{};
    if (::statx(AT_FDCWD, entry.mountPoint.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) != 0) return std::nullopt;
    if (!(sx.stx_mask & STATX_BTIME)) return std::nullopt;
    return static_cast<double>(sx.stx_btime.tv_sec) + static_cast<double>(sx.stx_btime.tv_nsec) * 1e-9;
}

// File-system size (stable across remounts, unlike free space). Not asked of network
// shares, whose server may hang the caller.
std::optional<int64_t> fileSystemSize(const MountEntry& entry) {
    if (entry.isNetwork) return std::nullopt;
    struct statvfs sv{};
    if (::statvfs(entry.mountPoint.c_str(), &sv) != 0) return std::nullopt;
    return static_cast<int64_t>(sv.f_blocks) * static_cast<int64_t>(sv.f_frsize);
}

}  // namespace

bool VolumeIdentity::matches(const VolumeIdentity& other) const {
    if (uuid && other.uuid) return *uuid == *other.uuid;
    if (!name || !other.name || nfcNormalized(*name) != nfcNormalized(*other.name)) return false;
    if (!creationDate || !other.creationDate || *creationDate != *other.creationDate) return false;
    return totalCapacity && other.totalCapacity && *totalCapacity == *other.totalCapacity;
}

std::optional<VolumeIdentity> VolumeIdentity::read(const std::filesystem::path& path) {
    auto entry = mountEntryFor(path);
    if (!entry) return std::nullopt;
    VolumeIdentity identity;
    identity.uuid = volumeUuid(*entry);
    identity.name = volumeName(*entry);
    identity.creationDate = rootBirthTime(*entry);
    identity.totalCapacity = fileSystemSize(*entry);
    if (identity.isEmpty()) return std::nullopt;
    return identity;
}

}  // namespace tessaline
