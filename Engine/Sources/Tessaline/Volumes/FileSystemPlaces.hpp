#pragma once
// Finds the FileSystemPlace of paths: the mount a path reaches (by the mount ID the kernel
// reports for it), that mount's root within its file system (the fourth field of
// /proc/self/mountinfo), and the path below the mount point. Keeps one snapshot of the mount
// table and what it learns per mount (device number, root, UUID), so placing many files
// costs a realpath and a statx each. Not thread-safe: one finder per thread or per run;
// never throws.

#include "Tessaline/Volumes/FileSystemPlace.hpp"
#include "Tessaline/Volumes/MountTable.hpp"

#include <filesystem>
#include <optional>
#include <unordered_map>

namespace tessaline {

class FileSystemPlaces {
public:
    // Starts from the current mount table; a mount made later is found by reading it again.
    FileSystemPlaces();

    // The place of `path` with its links resolved; nullopt when it does not exist or its
    // mount cannot be found.
    std::optional<FileSystemPlace> of(const std::filesystem::path& path);
    // The same for a path already resolved by realpath(3) (absolute, no links).
    std::optional<FileSystemPlace> ofCanonical(const std::filesystem::path& canonical);

private:
    struct Mount {
        MountEntry entry;
        std::optional<std::string> uuid;
        bool uuidRead = false;
    };
    Mount* mountWithId(int id);
    Mount* mountHolding(const std::filesystem::path& canonical);

    MountTable table_;
    bool tableRefreshed_ = false;
    std::unordered_map<int, Mount> mounts_;  // by mount ID, filled on first use
};

}  // namespace tessaline
