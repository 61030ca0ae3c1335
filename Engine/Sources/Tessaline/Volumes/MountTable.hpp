#pragma once
// A snapshot of the kernel's mount table, read through libmount from /proc/self/mountinfo.
// Every call reads afresh; safe on any thread. Never throws: an unreadable table is empty.

#include "Tessaline/Volumes/MountEntry.hpp"

#include <filesystem>
#include <optional>
#include <vector>

namespace tessaline {

class MountTable {
public:
    // The current table in the kernel's order (parents before children, stacked mounts last).
    static MountTable current();
    explicit MountTable(std::vector<MountEntry> entries) : entries_(std::move(entries)) {}

    const std::vector<MountEntry>& entries() const { return entries_; }

    // The mount holding `canonicalPath` (absolute, symlinks resolved): the longest mount
    // point that equals it or lies above it component-wise; of stacked mounts the topmost.
    std::optional<MountEntry> containing(const std::filesystem::path& canonicalPath) const;
    // The topmost mount whose mount point is exactly `canonicalPath`.
    std::optional<MountEntry> mountedAt(const std::filesystem::path& canonicalPath) const;
    const MountEntry* withId(int id) const;

private:
    std::vector<MountEntry> entries_;
};

}  // namespace tessaline
