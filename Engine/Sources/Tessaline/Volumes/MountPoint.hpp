#pragma once
// Where a path is mounted, for availability rules (a sync destination must really be on its
// drive) and erase/reformat checks. Both read the mount table afresh; safe on any thread;
// never throw.

#include "Tessaline/Volumes/MountEntry.hpp"

#include <filesystem>
#include <optional>

namespace tessaline {

// The mount point of the file system holding `path` after resolving symlinks ("/" for a
// path on the root file system). nullopt when the path does not exist: a missing path is
// never attributed to a parent's volume.
std::optional<std::filesystem::path> mountPointFor(const std::filesystem::path& path);

// The mount holding `path` (resolved as above), or nullopt.
std::optional<MountEntry> mountEntryFor(const std::filesystem::path& path);

// True when `path` (resolved as above) is itself the mount point of a mounted file system.
bool isMountPoint(const std::filesystem::path& path);

// realpath(3) of `path`; nullopt when it does not exist or cannot be resolved.
std::optional<std::filesystem::path> canonicalExistingPath(const std::filesystem::path& path);

}  // namespace tessaline
