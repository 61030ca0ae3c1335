#include "Tessaline/Volumes/MountEntry.hpp"

#include <sys/stat.h>

namespace tessaline {

bool MountEntry::isBlockBacked() const { return source.rfind("/dev/", 0) == 0; }

std::optional<dev_t> MountEntry::blockDevice() const {
    if (!isBlockBacked()) return std::nullopt;
    struct stat st{};
    if (::stat(source.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
    return st.st_rdev;
}

bool MountEntry::isFuse() const { return fsType == "fuse" || fsType == "fuseblk" || fsType.rfind("fuse.", 0) == 0; }

}  // namespace tessaline
