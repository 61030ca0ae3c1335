#pragma once
// The copy engine's real file calls with faults and hooks for tests: the Nth call of one
// kind fails with a chosen errno, hooks run before opens and renames and after date
// settings and closes, and a file system without rename flags or without links can be played.

#include "Tessaline/Copy/CopyFileIO.hpp"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tessaline::testing {

enum Op { openOp, readOp, writeOp, fsyncOp, syncfsOp, closeOp, futimensOp, mkdirOp, rmdirOp, unlinkOp, renameOp,
          linkOp, opCount };
inline const char* opName(int op) {
    static const char* names[] = {"open",  "read",  "write",  "fsync",  "syncfs", "close",
                                  "futimens", "mkdir", "rmdir", "unlink", "rename", "link"};
    return names[op];
}

// The real calls, with the Nth call of one kind failing with a chosen errno, and hooks.
class FaultyIO final : public CopyFileIO {
public:
    int failOp = -1;
    int failAt = 0;
    int failErrno = EIO;
    std::array<std::atomic<int>, opCount> counts{};
    std::function<void(const char* path, int flags)> beforeOpen;
    std::function<void(int call)> afterFutimens;  // with the call's number, from 1
    std::function<void(int fd, int call)> afterRead;  // with the call's number, from 1
    std::function<void(const char* from, const char* to)> beforeRename;
    std::function<void()> afterClose;
    bool noRenameFlags = false;  // renames with flags fail with EINVAL (FUSE exFAT)
    bool noLinks = false;        // links fail with EPERM (FAT, exFAT)
    std::string failedPath;  // the file whose fsync was failed
    std::mutex unlinkedLock;
    std::vector<std::string> unlinked;

    int open(const char* path, int flags, mode_t mode) override {
        if (beforeOpen) beforeOpen(path, flags);
        if (fails(openOp)) return -1;
        return real_->open(path, flags, mode);
    }
    // Counted and hooked as an open, with the folder's path before the name.
    int openat(int dirfd, const char* name, int flags) override {
        if (beforeOpen) beforeOpen((pathOf(dirfd) + "/" + name).c_str(), flags);
        if (fails(openOp)) return -1;
        return real_->openat(dirfd, name, flags);
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        if (fails(readOp)) return -1;
        ssize_t got = real_->read(fd, buffer, count);
        if (afterRead) afterRead(fd, counts[readOp]);
        return got;
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        return fails(writeOp) ? -1 : real_->write(fd, buffer, count);
    }
    int fsync(int fd) override {
        if (!fails(fsyncOp)) return real_->fsync(fd);
        failedPath = pathOf(fd);
        return -1;
    }
    int syncfs(int fd) override { return fails(syncfsOp) ? -1 : real_->syncfs(fd); }
    int close(int fd) override {
        if (fails(closeOp)) {
            real_->close(fd);  // Linux closes the descriptor even when close reports an error
            errno = failErrno;
            return -1;
        }
        const int result = real_->close(fd);
        if (afterClose) afterClose();
        return result;
    }
    int futimens(int fd, const struct timespec times[2]) override {
        if (fails(futimensOp)) return -1;
        int result = real_->futimens(fd, times);
        if (afterFutimens) afterFutimens(counts[futimensOp]);
        return result;
    }
    int mkdir(const char* path, mode_t mode) override { return fails(mkdirOp) ? -1 : real_->mkdir(path, mode); }
    int rmdir(const char* path) override { return fails(rmdirOp) ? -1 : real_->rmdir(path); }
    int rename(const char* from, const char* to, unsigned flags) override {
        if (beforeRename) beforeRename(from, to);
        if (fails(renameOp)) return -1;
        if (flags && noRenameFlags) {
            errno = EINVAL;
            return -1;
        }
        return real_->rename(from, to, flags);
    }
    int link(const char* from, const char* to) override {
        if (fails(linkOp)) return -1;
        if (noLinks) {
            errno = EPERM;
            return -1;
        }
        return real_->link(from, to);
    }
    int unlink(const char* path) override {
        if (fails(unlinkOp)) return -1;
        std::lock_guard lock(unlinkedLock);
        unlinked.push_back(path);
        return real_->unlink(path);
    }
    int unlinkat(int dirfd, const char* name) override {
        if (fails(unlinkOp)) return -1;
        std::lock_guard lock(unlinkedLock);
        unlinked.push_back(pathOf(dirfd) + "/" + name);
        return real_->unlinkat(dirfd, name);
    }

private:
    static std::string pathOf(int fd) {
        char target[4096];
        ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
    }
    bool fails(int op) {
        int n = ++counts[op];
        if (op == failOp && n == failAt) {
            errno = failErrno;
            return true;
        }
        return false;
    }
    std::shared_ptr<CopyFileIO> real_ = CopyFileIO::posix();
};

}  // namespace tessaline::testing
