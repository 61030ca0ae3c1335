#pragma once
// A descriptor opened through the copy seam (internal to the copy engine), closed through it
// on every path; an error from that close is ignored. Single-owner, movable.

#include "Tessaline/Copy/CopyFileIO.hpp"

#include <utility>

namespace tessaline {

class SeamFd {
public:
    SeamFd() = default;
    SeamFd(CopyFileIO& io, int fd) : io_(&io), fd_(fd) {}
    ~SeamFd() { reset(); }
    SeamFd(SeamFd&& other) noexcept : io_(other.io_), fd_(std::exchange(other.fd_, -1)) {}
    SeamFd& operator=(SeamFd&& other) noexcept {
        if (this != &other) {
            reset();
            io_ = other.io_;
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    SeamFd(const SeamFd&) = delete;
    SeamFd& operator=(const SeamFd&) = delete;

    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0 && io_) io_->close(fd_);
        fd_ = -1;
    }
    int release() { return std::exchange(fd_, -1); }

private:
    CopyFileIO* io_ = nullptr;
    int fd_ = -1;
};

}  // namespace tessaline
