#include "Tessaline/Copy/WrittenCopy.hpp"

#include "Tessaline/Support/FileErrors.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

WrittenCopy::WrittenCopy(CopyFileIO& io, int fd, std::filesystem::path destination, dev_t device, ino_t inode,
                         bool nameDurable)
    : io_(io), fd_(fd), destination_(std::move(destination)), device_(device), inode_(inode),
      nameDurable_(nameDurable) {}

WrittenCopy::~WrittenCopy() {
    if (!settled_) discard();
}

bool WrittenCopy::flushUnsupported(int error) { return error == EINVAL || error == ENOTSUP || error == EROFS; }

void WrittenCopy::closeQuietly() {
    if (fd_ >= 0) io_.close(fd_);
    fd_ = -1;
}

void WrittenCopy::discard() {
    settled_ = true;
    closeQuietly();
    struct stat now{};
    if (::lstat(destination_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_)
        io_.unlink(destination_.c_str());
}

std::optional<std::string> WrittenCopy::flush() {
    auto failRemoving = [&](int error) {
        discard();
        return std::optional<std::string>(errnoText(error));
    };
    if (io_.fsync(fd_) != 0 && !flushUnsupported(errno)) return failRemoving(errno);
    // Clean now: the read-back goes past the cache, so these pages only crowd out others.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    int fd = fd_;
    fd_ = -1;
    if (io_.close(fd) != 0) return failRemoving(errno);
    // The new name must be durable as well as the bytes. Journaling file systems make it so
    // with the file's own fsync; FAT, exFAT and the rest need the folder flushed too.
    if (!nameDurable_) {
        int folder = io_.open(destination_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            int result = io_.fsync(folder);
            int error = errno;
            io_.close(folder);
            if (result != 0 && !flushUnsupported(error)) return failRemoving(error);
        }
    }
    settled_ = true;
    return std::nullopt;
}

}  // namespace tessaline
