#include "Tessaline/CardPrep/CardRootVolume.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeClassifier.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

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
    volume.mountId = lastingMountId(AT_FDCWD, canonical->c_str(), 0).value_or(static_cast<uint64_t>(entry->id));
    volume.fileSystemUuid = volumeUuid(*entry);
    return volume;
}

}  // namespace tessaline
