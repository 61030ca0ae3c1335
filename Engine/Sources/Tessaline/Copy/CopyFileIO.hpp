#pragma once
// The file-system calls of the verified copy, as one seam: the engine makes every call
// that can fail a copy (open, read, write, flush, close, folder creation, renaming into
// place, removal) through it, so tests can fail the Nth of any of them. Calls follow POSIX: -1 (or a negative count)
// with errno set on failure. Implementations must be safe to call from several threads.

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>

namespace tessaline {

class CopyFileIO {
public:
    virtual ~CopyFileIO() = default;

    virtual int open(const char* path, int flags, mode_t mode = 0) = 0;
    // openat(dirfd, name, flags): opens `name` in the open folder `dirfd`. The real call
    // unless an implementation overrides it.
    virtual int openat(int dirfd, const char* name, int flags);
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, size_t count) = 0;
    virtual int fsync(int fd) = 0;
    // Flushes the whole file system holding `fd` (Linux syncfs).
    virtual int syncfs(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    virtual int mkdir(const char* path, mode_t mode) = 0;
    virtual int rmdir(const char* path) = 0;
    virtual int unlink(const char* path) = 0;
    // unlinkat(dirfd, name, 0): removes `name` from the open folder `dirfd`.
    virtual int unlinkat(int dirfd, const char* name) = 0;
    // renameat2(AT_FDCWD, from, AT_FDCWD, to, flags): flags 0 or RENAME_NOREPLACE.
    virtual int rename(const char* from, const char* to, unsigned flags) = 0;
    virtual int link(const char* from, const char* to) = 0;

    // The real calls.
    static std::shared_ptr<CopyFileIO> posix();
};

}  // namespace tessaline
