#pragma once
// What the mount watcher knows of the mount table at one moment, and which volumes were
// mounted and unmounted between two such moments. Plain values; taking one reads the kernel.
//
// The mount table's own IDs are handed out again at once: a card unmounted and mounted again
// at the same place before the table is read again gets its old ID back, on the same device.
// Block-backed mounts therefore also carry the kernel's lasting mount ID where the kernel
// gives one (lastingMountId, Linux 6.8 and later: never handed out again while the system
// runs), which tells such a remount apart. Where it is not given (older kernels, network
// mounts, a mount point covered by a later mount), a mount is the same while its table ID,
// place and device stay.

#include "Tessaline/Volumes/MountTable.hpp"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

namespace tessaline {

struct MountSnapshot {
    struct Mount {
        std::filesystem::path mountPoint;
        dev_t deviceNumber = 0;
        std::optional<uint64_t> lastingId;  // see above
        bool visible = false;               // a card or drive as the listing shows them (name aside)
    };
    std::map<int, Mount> mounts;  // by the mount table's ID

    // The table as it stands; the lasting IDs are read for the visible block-backed mounts.
    static MountSnapshot take(const MountTable& table);

    struct Changes {
        std::vector<std::filesystem::path> unmounted;  // visible mounts that went, by mount point
        std::vector<std::filesystem::path> mounted;    // visible mounts that came, by mount point
    };
    // What went from `before` and came in `after`; a mount present in both but with another
    // place, device or lasting ID went and came.
    static Changes between(const MountSnapshot& before, const MountSnapshot& after);
};

}  // namespace tessaline
