#include "Tessaline/Copy/PosixCopyFileIO.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

int PosixCopyFileIO::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t PosixCopyFileIO::read(int fd, void* buffer, size_t count) { return ::read(fd, buffer, count); }
ssize_t PosixCopyFileIO::write(int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); }
int PosixCopyFileIO::fsync(int fd) { return ::fsync(fd); }
int PosixCopyFileIO::syncfs(int fd) { return ::syncfs(fd); }
int PosixCopyFileIO::close(int fd) { return ::close(fd); }
int PosixCopyFileIO::futimens(int fd, const struct timespec times[2]) { return ::futimens(fd, times); }
int PosixCopyFileIO::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int PosixCopyFileIO::unlink(const char* path) { return ::unlink(path); }

std::shared_ptr<CopyFileIO> CopyFileIO::posix() {
    static const std::shared_ptr<CopyFileIO> shared = std::make_shared<PosixCopyFileIO>();
    return shared;
}

}  // namespace tessaline
