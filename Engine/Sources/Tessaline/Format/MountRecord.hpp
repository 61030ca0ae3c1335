#pragma once
// One mount as findmnt reports it in JSON (-J): source, target, type, label, UUID and the
// device number. Plain value; parsing is pure and safe on any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct MountRecord {
    std::string source;  // "/dev/sdb1"; may be "tmpfs", "server:/x" and the like
    std::string target;  // the mount point
    std::string fsType;  // "ext4", "fuseblk", ...
    std::optional<std::string> label;
    std::optional<std::string> uuid;
    std::string majorMinor;  // "8:17"
    std::optional<std::string> fsRoot;  // the folder of the file system mounted here ("/" for a whole volume)

    // Every mount in findmnt's JSON output ("filesystems", nested "children" included), in
    // output order; nullopt when the text is not such JSON. Absent or null fields are empty.
    static std::optional<std::vector<MountRecord>> fromFindmntJson(std::string_view json);
};

}  // namespace tessaline
