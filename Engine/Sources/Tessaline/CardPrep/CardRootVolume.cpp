#include "Tessaline/CardPrep/CardRootVolume.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeClassifier.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

std::optional<CardRootVolume> CardRootVolume::read(const std::filesystem::path& path) {
    auto canonical = canonicalExistingPath(path);
    if (!canonical) return std::nullopt;
    MountTable table = MountTable::current();
    auto entry = table.mountedAt(*canonical);
    // The mount the path actually reaches: a mount made later over a parent folder hides the
    // card's entry, which stays in the table, and the path then leads into the other file system.
    struct statx sx{};
    if (entry && ::statx(AT_FDCWD, canonical->c_str(), 0, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID)) {
        const MountEntry* reached = table.withId(static_cast<int>(sx.stx_mnt_id));
        if (!reached || reached->mountPoint != entry->mountPoint) return std::nullopt;
        entry = *reached;
    }
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
    return volume;
}

}  // namespace tessaline
