#pragma once
// One copy whose bytes are written but not yet proven durable (internal to the copy engine).
// The destination descriptor stays open from the first write to the flush, so a write-back
// error on the copy is reported to this descriptor's fsync even when other flushes of the
// file system (syncfs) ran in between. A copy that is not flushed successfully is removed
// again, but only while its name still leads to the very file this run created: nothing
// that was never proven durable stays under a final name, and nothing else is touched.

#include "Tessaline/Copy/CopyFileIO.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

class WrittenCopy {
public:
    // Takes `fd`, the descriptor of the file this run created at `destination`. With
    // `nameDurable` false the folder is flushed too (file systems whose file fsync does not
    // make a new name durable).
    WrittenCopy(CopyFileIO& io, int fd, std::filesystem::path destination, dev_t device, ino_t inode,
                bool nameDurable);
    // Discards the copy unless it was flushed.
    ~WrittenCopy();
    WrittenCopy(const WrittenCopy&) = delete;
    WrittenCopy& operator=(const WrittenCopy&) = delete;

    int fd() const { return fd_; }
    dev_t device() const { return device_; }
    ino_t inode() const { return inode_; }
    const std::filesystem::path& destination() const { return destination_; }

    // fsync (checked: EIO, ENOSPC, EDQUOT and every other error but "cannot flush here"
    // fail), close (checked), then the folder's fsync when needed. Returns nullopt when the
    // copy is durable; otherwise removes it and returns the reason in words.
    std::optional<std::string> flush();

    // Closes the copy and removes it.
    void discard();

    // An fsync error meaning "this file system cannot flush", not "the data is not safe".
    static bool flushUnsupported(int error);

private:
    void closeQuietly();
    CopyFileIO& io_;
    int fd_;
    std::filesystem::path destination_;
    dev_t device_;
    ino_t inode_;
    bool nameDurable_;
    bool settled_ = false;
};

}  // namespace tessaline
