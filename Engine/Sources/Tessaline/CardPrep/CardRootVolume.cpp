#include "Tessaline/CardPrep/CardRootVolume.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeClassifier.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

namespace {

// statx's request for the never-reused mount ID (Linux 6.8); older kernels ignore the bit and
// answer STATX_MNT_ID. Not in Debian 12's headers.
constexpr unsigned statxMountIdUnique = 0x4000U;

}  // namespace

std::optional<uint64_t> CardRootVolume::mountIdAt(int dirFd, const char* path, int flags) {
    struct statx sx{};
    if (::statx(dirFd, path, flags, STATX_MNT_ID | statxMountIdUnique, &sx) != 0) return std::nullopt;
    if (!(sx.stx_mask & (statxMountIdUnique | STATX_MNT_ID))) return std::nullopt;
    return sx.stx_mnt_id;
}

std::optional<CardRootVolume> CardRootVolume::read(const std::filesystem::path& path) {
    auto canonical = canonicalExistingPath(path);
    if (!canonical) return std::nullopt;
    // The mount the path reaches now, not one hidden by a later mount over a parent folder.
    auto entry = mountRootedAt(MountTable::current(), *canonical);
    // Only the whole file system counts: a bind mount of a subfolder (or a btrfs subvolume)
    // shows only part of it, and a mount without a block device has no disk to classify.
    if (!entry || entry->root != "/" || !entry->isBlockBacked()) return std::nullopt;
    struct stat st{}, rootSt{};
    if (::stat(canonical->c_str(), &st) != 0 || ::stat("/", &rootSt) != 0) return std::nullopt;
    CardRootVolume volume;
    volume.canonicalPath = *canonical;
    volume.device = st.st_dev;
    volume.inode = st.st_ino;
    volume.isRootFileSystem = st.st_dev == rootSt.st_dev;
    volume.isInternal = VolumeClassifier::classifyMount(*entry).isInternal;
    volume.mountId = mountIdAt(AT_FDCWD, canonical->c_str(), 0).value_or(static_cast<uint64_t>(entry->id));
    volume.fileSystemUuid = volumeUuid(*entry);
    return volume;
}

}  // namespace tessaline
