#include "Tessaline/Volumes/FileSystemPlaces.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;

FileSystemPlaces::FileSystemPlaces() : table_(MountTable::current()) {}

FileSystemPlaces::Mount* FileSystemPlaces::mountWithId(int id) {
    auto known = mounts_.find(id);
    if (known != mounts_.end()) return &known->second;
    const MountEntry* entry = table_.withId(id);
    if (!entry && !tableRefreshed_) {
        // A mount made since the snapshot: read the table once more, not once per file.
        table_ = MountTable::current();
        tableRefreshed_ = true;
        entry = table_.withId(id);
    }
    if (!entry) return nullptr;
    return &mounts_.emplace(id, Mount{*entry, std::nullopt, false}).first->second;
}

FileSystemPlaces::Mount* FileSystemPlaces::mountHolding(const fs::path& canonical) {
    struct statx sx{};
    if (::statx(AT_FDCWD, canonical.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) == 0 &&
        (sx.stx_mask & STATX_MNT_ID)) {
        Mount* mount = mountWithId(static_cast<int>(sx.stx_mnt_id));
        if (mount && isSameOrBelow(canonical, mount->entry.mountPoint)) return mount;
    }
    // No mount ID from the kernel, or one whose mount point does not lead here: the topmost
    // mount over the longest leading part of the path.
    auto entry = table_.containing(canonical);
    return entry ? mountWithId(entry->id) : nullptr;
}

std::optional<FileSystemPlace> FileSystemPlaces::of(const fs::path& path) {
    auto canonical = canonicalExistingPath(path);
    if (!canonical) return std::nullopt;
    return ofCanonical(*canonical);
}

std::optional<FileSystemPlace> FileSystemPlaces::ofCanonical(const fs::path& canonical) {
    Mount* mount = mountHolding(canonical);
    if (!mount) return std::nullopt;
    if (!mount->uuidRead) {
        mount->uuid = volumeUuid(mount->entry);
        mount->uuidRead = true;
    }
    // The part of the path below the mount point: "" at the mount point, else "/..." .
    const std::string& mountPoint = mount->entry.mountPoint.native();
    std::string below = mountPoint == "/" ? canonical.native() : canonical.native().substr(mountPoint.size());
    if (below == "/") below.clear();
    std::string root = withoutTrailingSlash(mount->entry.root.empty() ? "/" : mount->entry.root);
    FileSystemPlace place;
    place.device = mount->entry.deviceNumber;
    place.uuid = mount->uuid;
    place.path = root == "/" ? (below.empty() ? "/" : below) : root + below;
    return place;
}

}  // namespace tessaline
