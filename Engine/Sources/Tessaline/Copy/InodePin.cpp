#include "Tessaline/Copy/InodePin.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace tessaline {

InodePin::InodePin(int folder, const char* name, dev_t device, ino_t inode) {
    fd_ = ::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st{};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || st.st_dev != device || st.st_ino != inode)) reset();
}

void InodePin::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace tessaline
