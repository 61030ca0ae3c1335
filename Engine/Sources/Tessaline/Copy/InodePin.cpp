#include "Tessaline/Copy/InodePin.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

UniqueFd pinInode(int folder, const char* name, dev_t device, ino_t inode) {
    UniqueFd pin(::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st{};
    if (pin && (::fstat(pin.get(), &st) != 0 || st.st_dev != device || st.st_ino != inode)) pin.reset();
    return pin;
}

UniqueFd pinWhereRenumbered(int fd, const char* path) {
    struct stat st{};
    if (fd < 0 || CardFileComparison::keepsInodeNumbers(fd) || ::fstat(fd, &st) != 0) return UniqueFd();
    return pinInode(AT_FDCWD, path, st.st_dev, st.st_ino);
}

}  // namespace tessaline
