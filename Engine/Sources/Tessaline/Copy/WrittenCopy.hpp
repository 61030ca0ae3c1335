#pragma once
// One copy written under a hidden temporary name in its destination folder (internal to the
// copy engine). A final name is only ever given to a copy that is flushed and proven: the
// copy stays under its temporary name (".<name>.brindlecove-<random>.part": hidden, so the
// scanner and the settle wait pass it over, and unique, so it is never a user's file) until
// `place` moves it to its final name without replacing anything. Another run deciding
// whether a file is "already present" therefore only ever sees proven files, and removing a
// copy (a failed flush or proof, a cancellation) only ever removes a temporary file that this
// run created. The descriptor stays open from the first write to the flush, so a write-back
// error is reported to this descriptor's fsync even when other flushes (syncfs) ran between.
// The folder stays open too: removing the copy and flushing its new name go through it, so
// they reach the copy's own folder even when its path leads elsewhere (a drive pulled). The
// copy itself stays pinned (pinInode) until the copy is destroyed, so where the file system
// numbers files afresh (FAT, exFAT, FUSE) its number still names it at its read-back and when
// it is reported.

#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Copy/InodePin.hpp"
#include "Tessaline/Copy/SeamFd.hpp"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

class WrittenCopy {
public:
    // Takes `fd`, the descriptor of the file this run created at `temporary`, and `folder`,
    // the open folder it was created in.
    WrittenCopy(CopyFileIO& io, int fd, SeamFd folder, std::filesystem::path temporary, dev_t device, ino_t inode);
    // Discards the copy unless it was placed.
    ~WrittenCopy();
    WrittenCopy(const WrittenCopy&) = delete;
    WrittenCopy& operator=(const WrittenCopy&) = delete;

    int fd() const { return fd_; }
    dev_t device() const { return device_; }
    ino_t inode() const { return inode_; }
    // The temporary name until the copy is placed, then its final name.
    const std::filesystem::path& path() const { return path_; }
    bool isPlaced() const { return placed_; }

    // fsync (checked: EIO, ENOSPC, EDQUOT and every other error but "cannot flush here"
    // fail), then close (checked). Returns nullopt when the bytes are durable; otherwise
    // removes the copy and returns the reason in words.
    std::optional<std::string> flush();

    // Moves the flushed copy to `finalName` (same folder) without replacing anything: 0, or
    // EEXIST when that name is taken, or another errno; on failure the copy keeps its
    // temporary name. The new name is durable only after `flushFolder` of its folder.
    int place(const std::filesystem::path& finalName);

    // The size and modification time the file system gave the copy when it was flushed.
    int64_t writtenSize() const { return writtenSize_; }
    const struct timespec& writtenModified() const { return writtenModified_; }

    // Whether its folder still holds this very copy under the name it has now.
    bool isInItsFolder() const;
    // Takes a placed copy out of its final name (removes it) while that name in its folder
    // still leads to this copy: for a copy the run cannot report as proven, so that no final
    // name is left holding a file the run calls failed. True when it is gone from there.
    bool withdraw();

    // Closes the copy and removes it, while it is unplaced and its temporary name still
    // leads to the file this run created; a placed copy is never removed.
    void discard();

    // fsync of the copy's folder, making the name it was moved to durable. Returns the reason
    // in words when it fails (file systems that cannot flush a folder pass).
    std::optional<std::string> flushFolder();
    // The open folder the copy is in.
    int folder() const { return folder_.get(); }

    // A hidden, unique name in the folder of `finalName` for writing its copy.
    static std::filesystem::path temporaryName(const std::filesystem::path& finalName);
    // An fsync error meaning "this file system cannot flush", not "the data is not safe".
    static bool flushUnsupported(int error);

private:
    void closeQuietly();
    CopyFileIO& io_;
    int fd_;
    SeamFd folder_;
    std::filesystem::path path_;
    dev_t device_;
    ino_t inode_;
    UniqueFd pin_;  // pinInode of the copy
    int64_t writtenSize_ = -1;
    struct timespec writtenModified_{};
    bool placed_ = false;
    bool discarded_ = false;
};

}  // namespace tessaline
