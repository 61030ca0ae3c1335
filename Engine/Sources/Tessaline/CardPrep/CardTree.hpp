#pragma once
// File operations on an open card root that never leave the card's file system: they work
// relative to directory descriptors, never follow a symbolic link (a link is measured as 0
// bytes and removed as a link), and never enter a folder that is another mount or lies on
// another device (such a folder is neither measured nor removed). Blocks the caller; safe
// on any thread.

#include "Tessaline/Scanner/CardFileRecord.hpp"

#include <sys/types.h>

#include <cstdint>
#include <functional>
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

    // A stop test, asked before each entry is measured and before each file and each folder
    // is removed; empty: never stops.
    using StopTest = std::function<bool()>;

    // The logical size of the item `name` at the root: a regular file's size, or the sum of
    // the sizes of the regular files below a folder (unreadable parts count 0); nullopt when
    // `isStopped` stopped the walk.
    std::optional<int64_t> sizeOf(const std::string& name, const StopTest& isStopped = {}) const;

    // What measure() found below an item.
    struct Measure {
        int64_t bytes = 0;  // as sizeOf() gives it
        int files = 0;      // the regular files it counted
    };
    // sizeOf(), with the regular files counted.
    std::optional<Measure> measure(const std::string& name, const StopTest& isStopped = {}) const;

    // Told after each regular file a removal deleted; empty: told nothing.
    using FileRemoved = std::function<void()>;

    // What remove() did with one item.
    struct Removal {
        bool complete = false;  // the item is gone
        bool stopped = false;   // the stop test said stop before the item was gone
        int filesRemoved = 0;   // regular files deleted
        int64_t bytesRemoved = 0;  // their logical sizes
        bool removedAny = false;   // anything at all was removed: a file, a link, a folder
    };

    // Removes the item `name` at the root with everything below it. Not complete when
    // anything could not be removed (what could be is gone) or when `isStopped` stopped it;
    // a folder that is a mount point, on another device, or nested too deep is never entered
    // and makes the removal incomplete.
    Removal remove(const std::string& name, const StopTest& isStopped = {}, const FileRemoved& removed = {}) const;

    // What removeVouched() did with one item.
    struct VouchedRemoval {
        enum class Left { nothing, kept, failed };
        // failed wins over kept: something could not be removed. A folder left only because
        // it holds kept files is kept, not failed.
        Left left = Left::nothing;
        bool stopped = false;           // the stop test said stop; what was not reached stays
        std::vector<std::string> kept;  // the regular files kept, relative to the root, in walk order
        int filesRemoved = 0;           // regular files deleted
        int64_t bytesRemoved = 0;       // their logical sizes
        bool removedAny = false;        // anything at all was removed: a file, a link, a folder
    };

    // Removes the item `name` at the root like remove(), but deletes a regular file only when
    // its status, read through its folder's handle just before its unlinkat, still gives its
    // record in `vouched` (sorted by relative path, byte order; inode number included, so the
    // records must come from a walk through this very mount; where the card's file system
    // renumbers files (FAT, exFAT, FUSE), a file whose number alone differs is read and
    // deleted only when its bytes give the record's digest, CardFileComparison), or when it is OS litter
    // (CardFileSet::isLitter). Every other regular file is kept and listed; links, FIFOs,
    // sockets and device nodes are removed. A folder that turns out not empty is listed again
    // (a few times at most), and every entry in it not already kept is judged again, so that
    // files made after its listing, under new names or under names already deleted, are
    // deleted or kept and listed too. The records must outlive the call. What a write between
    // the last status read and the unlinkat does cannot be seen.
    VouchedRemoval removeVouched(const std::string& name, const std::vector<CardFileRecord>& vouched,
                                 const StopTest& isStopped = {}, const FileRemoved& removed = {}) const;

    // Creates the folder `relative` ("DCIM/100CANON") below the root with its intermediate
    // folders. True when it exists as a folder afterwards; false when a component is a file
    // or a link, or cannot be created. `made` (when given) tells whether this call made any
    // of its folders (false when all of them existed).
    bool createFolders(const std::string& relative, bool* made = nullptr) const;

private:
    int rootFd_;
    dev_t device_;
};

}  // namespace tessaline
