#pragma once
// A file or folder held open by an O_PATH descriptor (internal to the copy engine), so the
// kernel cannot forget it while the run still checks it. FAT, exFAT and FUSE file systems
// give a file a new inode number whenever the kernel forgets it (a walk of a big drive, a
// file indexer, a cache drop); a file held open is never forgotten, and neither is any
// folder above it, so while pinned its number, and the number a lookup of its path gives,
// stay what they were. The pin reads nothing and writes nothing.

#include "Tessaline/Support/UniqueFd.hpp"

#include <sys/types.h>

namespace tessaline {

// Pins `name` in the open folder `folder` (or the path `name` when `folder` is AT_FDCWD),
// following no link at the last component, when it is still the file (device, inode);
// otherwise pins nothing (an empty descriptor).
UniqueFd pinInode(int folder, const char* name, dev_t device, ino_t inode);

// Pins the file `path` leads to (AT_FDCWD) while it is still the open file `fd`, and only
// where its file system numbers files afresh (CardFileComparison::keepsInodeNumbers false;
// elsewhere a number lasts without a pin): the copy keeps each card file it proved under the
// number its proof found until its closing look at the card, so that look finds the file
// under that number and need not read its bytes again. Otherwise an empty descriptor.
UniqueFd pinWhereRenumbered(int fd, const char* path);

}  // namespace tessaline
