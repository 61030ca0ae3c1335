#include "Tessaline/Copy/IdentityOpener.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

FileOpener identityOpener(CopyFileIO& io, dev_t device, ino_t inode) {
    return [&io, device, inode](const std::filesystem::path& path, int flags) {
        int fd = io.open(path.c_str(), flags | O_NOFOLLOW, 0);
        if (fd < 0) return fd;
        struct stat st{};
        if (::fstat(fd, &st) != 0 || st.st_dev != device || st.st_ino != inode) {
            io.close(fd);
            errno = ESTALE;
            return -1;
        }
        return fd;
    };
}

}  // namespace tessaline
