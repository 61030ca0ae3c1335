#pragma once
// The real system calls behind CopyFileIO. Stateless; safe on any thread.

#include "Tessaline/Copy/CopyFileIO.hpp"

namespace tessaline {

class PosixCopyFileIO final : public CopyFileIO {
public:
    int open(const char* path, int flags, mode_t mode) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int fsync(int fd) override;
    int syncfs(int fd) override;
    int close(int fd) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int mkdir(const char* path, mode_t mode) override;
    int rmdir(const char* path) override;
    int unlink(const char* path) override;
    int unlinkat(int dirfd, const char* name) override;
    int rename(const char* from, const char* to, unsigned flags) override;
    int link(const char* from, const char* to) override;
};

}  // namespace tessaline
