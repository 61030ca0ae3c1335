#pragma once
// Where a path is mounted, for availability rules (a sync destination must really be on its
// drive) and erase/reformat checks. Both read the mount table afresh; safe on any thread;
// never throw.

#include "Tessaline/Volumes/MountEntry.hpp"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tessaline {

class MountTable;

// The mount point of the file system holding `path` after resolving symlinks ("/" for a
// path on the root file system). nullopt when the path does not exist: a missing path is
// never attributed to a parent's volume.
std::optional<std::filesystem::path> mountPointFor(const std::filesystem::path& path);

// The mount holding `path` (resolved as above), or nullopt.
std::optional<MountEntry> mountEntryFor(const std::filesystem::path& path);

// The mount whose root folder the existing, canonical path `canonical` is, as the path reaches
// it now: a mount hidden by a later mount over a parent folder stays in the table, but its
// path then leads into the other file system, so it does not count (checked with the mount
// ID the kernel reports for the path, where it reports one). nullopt otherwise.
std::optional<MountEntry> mountRootedAt(const MountTable& table, const std::filesystem::path& canonical);

// True when `path` (resolved as above) is itself the mount point of a mounted file system.
bool isMountPoint(const std::filesystem::path& path);

// The ID of the mount that statx(dirFd, path, flags) reaches (an open folder with
// AT_EMPTY_PATH): the kernel's 64-bit ID, never reused while the system runs, where the
// kernel gives one (Linux 6.8 and later; such IDs start at 2^31); otherwise the mount
// table's ID (STATX_MNT_ID), which the kernel hands out again at once (measured: a tmpfs
// unmounted and mounted again got the same ID). nullopt when the kernel gives neither.
std::optional<uint64_t> lastingMountId(int dirFd, const char* path, int flags);

// The statx mask that asks for the ID lastingMountId gives (STATX_MNT_ID and the unique-ID
// bit, which Debian 12's headers lack), for a caller that needs other fields of the same
// answer; read the ID with lastingMountIdIn.
unsigned lastingMountIdMask();
// The mount ID in a statx answer asked with lastingMountIdMask(), or nullopt.
std::optional<uint64_t> lastingMountIdIn(const struct statx& answer);

// realpath(3) of `path`; nullopt when it does not exist or cannot be resolved.
std::optional<std::filesystem::path> canonicalExistingPath(const std::filesystem::path& path);

}  // namespace tessaline
