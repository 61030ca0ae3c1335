#pragma once
// A file or folder held open by an O_PATH descriptor (internal to the copy engine), so the
// kernel cannot forget it while the run still checks it. FAT, exFAT and FUSE file systems
// give a file a new inode number whenever the kernel forgets it (a walk of a big drive, a
// file indexer, a cache drop); a file held open is never forgotten, and neither is any
// folder above it, so while pinned its number, and the number a lookup of its path gives,
// stay what they were. The pin reads nothing and writes nothing.

#include <sys/stat.h>
#include <sys/types.h>

#include <utility>

namespace tessaline {

class InodePin {
public:
    InodePin() = default;
    // Pins `name` in the open folder `folder` (or the path `name` when `folder` is AT_FDCWD),
    // following no link at the last component, when it is still the file (device, inode);
    // otherwise pins nothing.
    InodePin(int folder, const char* name, dev_t device, ino_t inode);
    ~InodePin() { reset(); }
    InodePin(InodePin&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    InodePin& operator=(InodePin&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    InodePin(const InodePin&) = delete;
    InodePin& operator=(const InodePin&) = delete;

    bool pinned() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void reset();

private:
    int fd_ = -1;
};

}  // namespace tessaline
