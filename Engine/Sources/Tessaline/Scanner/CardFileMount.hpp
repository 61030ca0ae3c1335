#pragma once

#include <cstdint>

namespace tessaline {

// The mount a walk of a card went through: the card's device (st_dev) and the mount's ID
// (lastingMountId: never handed out again on Linux 6.8 and later; the mount table's ID, which
// a card mounted again may get again, on older kernels). Two walks with equal values went
// through one mount, as far as the kernel can tell; with reusable IDs a card ejected and
// mounted again can read as the same mount, which only ever makes more files differ. With
// them, whether the mount's file system keeps a file's inode number while mounted (false for
// FAT, exFAT and any FUSE file system, which renumber a file the kernel forgot from its
// cache). Plain value.
struct CardFileMount {
    uint64_t device = 0;
    uint64_t mountId = 0;
    bool keepsInodeNumbers = true;

    friend bool operator==(const CardFileMount&, const CardFileMount&) = default;
};

}  // namespace tessaline
