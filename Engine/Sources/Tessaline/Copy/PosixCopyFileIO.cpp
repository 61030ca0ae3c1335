#include "Tessaline/Copy/PosixCopyFileIO.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

int CopyFileIO::openat(int dirfd, const char* name, int flags) { return ::openat(dirfd, name, flags); }

int PosixCopyFileIO::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t PosixCopyFileIO::read(int fd, void* buffer, size_t count) { return ::read(fd, buffer, count); }
ssize_t PosixCopyFileIO::write(int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); }
int PosixCopyFileIO::fsync(int fd) { return ::fsync(fd); }
int PosixCopyFileIO::syncfs(int fd) { return ::syncfs(fd); }
int PosixCopyFileIO::close(int fd) { return ::close(fd); }
int PosixCopyFileIO::futimens(int fd, const struct timespec times[2]) { return ::futimens(fd, times); }
int PosixCopyFileIO::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int PosixCopyFileIO::rmdir(const char* path) { return ::rmdir(path); }
int PosixCopyFileIO::unlink(const char* path) { return ::unlink(path); }
int PosixCopyFileIO::unlinkat(int dirfd, const char* name) { return ::unlinkat(dirfd, name, 0); }
int PosixCopyFileIO::rename(const char* from, const char* to, unsigned flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}
int PosixCopyFileIO::link(const char* from, const char* to) { return ::link(from, to); }

std::shared_ptr<CopyFileIO> CopyFileIO::posix() {
    static const std::shared_ptr<CopyFileIO> shared = std::make_shared<PosixCopyFileIO>();
    return shared;
}

}  // namespace tessaline
