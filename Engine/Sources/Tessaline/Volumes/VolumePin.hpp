#pragma once
// One mounting of a volume, pinned by the kernel's own numbers, so that writes meant for it
// can be checked by descriptor: a drive pulled and its empty mount-point folder left on the
// system disk, or another volume mounted in its place, is told apart from the volume itself.
// A pin is for one mounting: the same volume unmounted and mounted again is not held. Used
// by the copy engine (every folder and file it creates) and by the sync runner (the
// destination a sync pair expects). Plain value; safe on any thread; never throws.
//
// The mount is told by lastingMountId: on Linux 6.8 and later an ID never handed out again
// while the system runs. Older kernels give only the mount table's ID, which is handed out
// again at once (an unmount and a mount reuse it), so there a volume mounted in the pinned
// one's place on the same device (a card swapped in the same reader slot, the same drive
// mounted again) passes for it; a volume on another device never does.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

struct VolumePin {
    std::filesystem::path mountPoint;  // where the volume is mounted, as the kernel reports it
    uint64_t mountId = 0;              // lastingMountId of the mounting (see above)
    dev_t device = 0;                  // st_dev of files on it
    std::optional<std::string> uuid;   // the file system's UUID, where it has one

    // The volume holding `path` now (the path must exist; symlinks are followed). nullopt
    // when the path or its mount cannot be read.
    static std::optional<VolumePin> of(const std::filesystem::path& path);

    // True when the open file or folder `fd` lies on this volume: the same device and the
    // same mount (by the same kind of ID as `mountId`). A descriptor opened before the volume was detached (umount -l) still lies
    // on it; whether the volume is still reachable by path is `isReachable`.
    bool holds(int fd) const;
    // True when `path`, as the path leads now (symlinks followed), lies on this volume.
    bool holds(const std::filesystem::path& path) const;
    // True when the mount point still leads to this volume (not detached, not covered).
    bool isReachable() const;

    bool operator==(const VolumePin&) const = default;
};

}  // namespace tessaline
