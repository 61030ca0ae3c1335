#pragma once
// File operations on an open card root that never leave the card's file system: they work
// relative to directory descriptors, never follow a symbolic link (a link is measured as 0
// bytes and removed as a link), and never enter a folder that is another mount or lies on
// another device (such a folder is neither measured nor removed). Blocks the caller; safe
// on any thread.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

class CardTree {
public:
    // `rootFd` is an open folder descriptor; `device` is the st_dev the card's files have.
    CardTree(int rootFd, dev_t device) : rootFd_(rootFd), device_(device) {}

    // The names of the root's entries in the folder's own order, hidden ones included;
    // nullopt when the folder cannot be read.
    std::optional<std::vector<std::string>> topLevelNames() const;

    // The logical size of the item `name` at the root: a regular file's size, or the sum of
    // the sizes of the regular files below a folder (unreadable parts count 0).
    int64_t sizeOf(const std::string& name) const;

    // Removes the item `name` at the root with everything below it. False when anything
    // could not be removed (what could be is gone); a folder that is a mount point, on
    // another device, or nested too deep is never entered and makes the removal fail.
    bool remove(const std::string& name) const;

    // Creates the folder `relative` ("DCIM/100CANON") below the root with its intermediate
    // folders. True when it exists as a folder afterwards; false when a component is a file
    // or a link, or cannot be created.
    bool createFolders(const std::string& relative) const;

private:
    int rootFd_;
    dev_t device_;
};

}  // namespace tessaline
