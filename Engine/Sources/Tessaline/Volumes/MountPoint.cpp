#include "Tessaline/Volumes/MountPoint.hpp"

#include "Tessaline/Volumes/MountTable.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace tessaline {

namespace {

// statx's request for the never-reused mount ID (Linux 6.8); older kernels ignore the bit
// and answer STATX_MNT_ID. Not in Debian 12's headers.
constexpr unsigned statxMountIdUnique = 0x4000U;

}  // namespace

unsigned lastingMountIdMask() { return STATX_MNT_ID | statxMountIdUnique; }

std::optional<uint64_t> lastingMountIdIn(const struct statx& answer) {
    if (!(answer.stx_mask & (statxMountIdUnique | STATX_MNT_ID))) return std::nullopt;
    return answer.stx_mnt_id;
}

std::optional<uint64_t> lastingMountId(int dirFd, const char* path, int flags) {
    struct statx sx{};
    if (::statx(dirFd, path, flags, lastingMountIdMask(), &sx) != 0) return std::nullopt;
    return lastingMountIdIn(sx);
}

std::optional<std::filesystem::path> canonicalExistingPath(const std::filesystem::path& path) {
    if (path.empty()) return std::nullopt;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::filesystem::path result(resolved);
    std::free(resolved);
    return result;
}

std::optional<MountEntry> mountEntryFor(const std::filesystem::path& path) {
    auto canonical = canonicalExistingPath(path);
    if (!canonical) return std::nullopt;
    return MountTable::current().containing(*canonical);
}

std::optional<std::filesystem::path> mountPointFor(const std::filesystem::path& path) {
    auto entry = mountEntryFor(path);
    if (!entry) return std::nullopt;
    return entry->mountPoint;
}

std::optional<MountEntry> mountRootedAt(const MountTable& table, const std::filesystem::path& canonical) {
    auto entry = table.mountedAt(canonical);
    if (!entry) return std::nullopt;
    struct statx sx{};
    if (::statx(AT_FDCWD, canonical.c_str(), 0, STATX_MNT_ID, &sx) != 0 || !(sx.stx_mask & STATX_MNT_ID)) return entry;
    const MountEntry* reached = table.withId(static_cast<int>(sx.stx_mnt_id));
    if (!reached || reached->mountPoint != entry->mountPoint) return std::nullopt;
    return *reached;
}

bool isMountPoint(const std::filesystem::path& path) {
    auto canonical = canonicalExistingPath(path);
    return canonical && MountTable::current().mountedAt(*canonical).has_value();
}

}  // namespace tessaline
