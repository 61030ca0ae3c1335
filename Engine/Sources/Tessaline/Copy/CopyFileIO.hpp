#pragma once
// The file-system calls of the verified copy, as one seam: the engine makes every call
// that can fail a copy (open, read, write, flush, close, folder creation, renaming into
// place, removal) through it, so tests can fail the Nth of any of them. Calls follow POSIX: -1 (or a negative count)
// with errno set on failure. Implementations must be safe to call from several threads.
// open, fsync, close, unlink, rename and link are the shared ones of FileCalls.

#include "Tessaline/Support/FileCalls.hpp"

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>

namespace tessaline {

class CopyFileIO : public FileCalls {
public:
    // openat(dirfd, name, flags): opens `name` in the open folder `dirfd`. The real call
    // unless an implementation overrides it.
    virtual int openat(int dirfd, const char* name, int flags);
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, size_t count) = 0;
    // Flushes the whole file system holding `fd` (Linux syncfs).
    virtual int syncfs(int fd) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    virtual int mkdir(const char* path, mode_t mode) = 0;
    virtual int rmdir(const char* path) = 0;
    // unlinkat(dirfd, name, 0): removes `name` from the open folder `dirfd`.
    virtual int unlinkat(int dirfd, const char* name) = 0;

    // The real calls.
    static std::shared_ptr<CopyFileIO> posix();
};

}  // namespace tessaline
