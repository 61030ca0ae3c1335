#pragma once
// Lists the mounted volumes a user would recognise as disks, cards, drives or shares.
// Stateless; every call reads the mount table afresh; safe on any thread; never throws.
// It never stats network or FUSE mounts, so a hung server cannot freeze the caller.

#include "Tessaline/Volumes/MountEntry.hpp"
#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <vector>

namespace tessaline {

class VolumeDetector {
public:
    // Every visible, named volume, in the kernel's mount order. Hidden are: pseudo file
    // systems, snaps (squashfs), system trees (/proc, /sys, /dev, /run but /run/media,
    // /snap, /var/lib/snapd, /boot), later bind mounts of one file system, and anything
    // neither on a block device nor a network share.
    static std::vector<VolumeInfo> listMountedVolumes();
    // listMountedVolumes() without the internal volumes, order kept.
    static std::vector<VolumeInfo> listCandidateVolumes();

    // The entries of `mounts` that would be listed if they had a name (the filter above
    // without the name rule), in their order.
    static std::vector<MountEntry> visibleMounts(const std::vector<MountEntry>& mounts);
};

}  // namespace tessaline
