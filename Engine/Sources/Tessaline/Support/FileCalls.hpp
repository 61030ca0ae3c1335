#pragma once
// The file-system calls that decide whether one of our files reaches its final name intact
// (creating, flushing, naming, removing), as one seam: the checked writer and the no-replace
// rename make them through it, the copy engine's own seam extends it, and tests fail the Nth
// of any of them. Calls follow POSIX: -1 with errno set on failure. Implementations must be
// safe to call from several threads.

#include <sys/types.h>

namespace tessaline {

class FileCalls {
public:
    virtual ~FileCalls() = default;

    virtual int open(const char* path, int flags, mode_t mode = 0) = 0;
    virtual int fsync(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int unlink(const char* path) = 0;
    // renameat2(AT_FDCWD, from, AT_FDCWD, to, flags): flags 0 or RENAME_NOREPLACE.
    virtual int rename(const char* from, const char* to, unsigned flags) = 0;
    virtual int link(const char* from, const char* to) = 0;

    // The real calls; lives for the whole program.
    static FileCalls& system();
};

}  // namespace tessaline
