#include "Tessaline/Volumes/MountEntry.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>

namespace tessaline {

bool MountEntry::isBlockBacked() const { return source.rfind("/dev/", 0) == 0; }

std::optional<dev_t> MountEntry::blockDevice() const {
    struct stat st{};
    // A kernel file system on a block device carries that device's own number.
    if (major(deviceNumber) != 0 &&
        ::stat(("/sys/dev/block/" + std::to_string(major(deviceNumber)) + ":" + std::to_string(minor(deviceNumber)))
                   .c_str(),
               &st) == 0)
        return deviceNumber;
    // Else (FUSE block file systems) the node the mount was made from, wherever it was made.
    if (source.empty() || source.front() != '/') return std::nullopt;
    if (::stat(source.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
    return st.st_rdev;
}

bool MountEntry::isFuse() const { return fsType == "fuse" || fsType == "fuseblk" || fsType.rfind("fuse.", 0) == 0; }

}  // namespace tessaline
