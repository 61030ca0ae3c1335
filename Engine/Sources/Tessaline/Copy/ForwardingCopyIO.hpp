#pragma once
// A CopyFileIO that passes every call on to another (the system's own calls by default), for
// a seam that hooks only some calls: a subclass overrides those and calls the base for the
// call itself. Safe on several threads as far as the wrapped one is.

#include "Tessaline/Copy/CopyFileIO.hpp"

#include <memory>
#include <utility>

namespace tessaline {

class ForwardingCopyIO : public CopyFileIO {
public:
    explicit ForwardingCopyIO(std::shared_ptr<CopyFileIO> next = CopyFileIO::posix()) : next_(std::move(next)) {}

    int open(const char* path, int flags, mode_t mode) override { return next_->open(path, flags, mode); }
    int openat(int dirfd, const char* name, int flags) override { return next_->openat(dirfd, name, flags); }
    ssize_t read(int fd, void* buffer, size_t count) override { return next_->read(fd, buffer, count); }
    ssize_t write(int fd, const void* buffer, size_t count) override { return next_->write(fd, buffer, count); }
    int fsync(int fd) override { return next_->fsync(fd); }
    int syncfs(int fd) override { return next_->syncfs(fd); }
    int close(int fd) override { return next_->close(fd); }
    int futimens(int fd, const struct timespec times[2]) override { return next_->futimens(fd, times); }
    int mkdir(const char* path, mode_t mode) override { return next_->mkdir(path, mode); }
    int rmdir(const char* path) override { return next_->rmdir(path); }
    int unlink(const char* path) override { return next_->unlink(path); }
    int unlinkat(int dirfd, const char* name) override { return next_->unlinkat(dirfd, name); }
    int rename(const char* from, const char* to, unsigned flags) override { return next_->rename(from, to, flags); }
    int link(const char* from, const char* to) override { return next_->link(from, to); }

private:
    std::shared_ptr<CopyFileIO> next_;
};

}  // namespace tessaline
