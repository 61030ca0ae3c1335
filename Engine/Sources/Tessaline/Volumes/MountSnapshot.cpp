#include "Tessaline/Volumes/MountSnapshot.hpp"

#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <set>

namespace tessaline {

namespace {

// The lasting ID of `entry`'s mount, read through its mount point only while that still
// leads to this very mount (not to one mounted over it since). Cached attributes only
// (AT_STATX_DONT_SYNC), so a busy FUSE daemon is not asked.
std::optional<uint64_t> lastingIdOf(const MountEntry& entry) {
    UniqueFd fd(::open(entry.mountPoint.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY));
    if (!fd) return std::nullopt;
    constexpr int flags = AT_EMPTY_PATH | AT_STATX_DONT_SYNC;
    struct statx sx{};
    if (::statx(fd.get(), "", flags, STATX_MNT_ID, &sx) != 0 || !(sx.stx_mask & STATX_MNT_ID) ||
        sx.stx_mnt_id != static_cast<uint64_t>(entry.id))
        return std::nullopt;
    return lastingMountId(fd.get(), "", flags);
}

bool sameMount(const MountSnapshot::Mount& a, const MountSnapshot::Mount& b) {
    if (a.mountPoint != b.mountPoint || a.deviceNumber != b.deviceNumber) return false;
    return !a.lastingId || !b.lastingId || *a.lastingId == *b.lastingId;
}

}  // namespace

MountSnapshot MountSnapshot::take(const MountTable& table) {
    std::set<int> visibleIds;
    for (const MountEntry& entry : VolumeDetector::visibleMounts(table.entries())) visibleIds.insert(entry.id);
    MountSnapshot snapshot;
    for (const MountEntry& entry : table.entries()) {
        const bool visible = visibleIds.count(entry.id) != 0;
        // Network mounts are never touched here: a hung server would hold the watcher.
        std::optional<uint64_t> lastingId = visible && entry.isBlockBacked() ? lastingIdOf(entry) : std::nullopt;
        snapshot.mounts[entry.id] = Mount{entry.mountPoint, entry.deviceNumber, lastingId, visible};
    }
    return snapshot;
}

MountSnapshot::Changes MountSnapshot::between(const MountSnapshot& before, const MountSnapshot& after) {
    Changes changes;
    for (const auto& [id, known] : before.mounts) {
        auto now = after.mounts.find(id);
        if (known.visible && (now == after.mounts.end() || !sameMount(known, now->second)))
            changes.unmounted.push_back(known.mountPoint);
    }
    for (const auto& [id, known] : after.mounts) {
        auto earlier = before.mounts.find(id);
        if (known.visible && (earlier == before.mounts.end() || !sameMount(earlier->second, known)))
            changes.mounted.push_back(known.mountPoint);
    }
    return changes;
}

}  // namespace tessaline
