#pragma once

#include <cstdint>
#include <string>

namespace tessaline {

// One file an erase of a card would delete, as a walk of the card found it: its place below
// the card root, the facts that change whenever its bytes are rewritten, the inode number
// that tells the file itself, and, once its bytes were read, their digest. Two records of one
// path that differ in size or times mean the file was added to, cut, rewritten or replaced
// between the two walks. A differing inode number means another file took the path (renamed
// over it, or its folder swapped) only when both walks went through one mount of a file
// system that keeps its numbers: FAT, exFAT and FUSE file systems number files afresh on every
// mount, and again for a file the kernel dropped from its cache, so there the bytes decide
// (CardFileComparison). Plain value.
struct CardFileRecord {
    // A file time as the file system gives it: seconds since the epoch and the nanoseconds
    // within that second, kept apart so that any date a file system can hold (before 1677 or
    // after 2262 too) is recorded and compared exactly.
    struct Time {
        int64_t seconds = 0;
        int64_t nanoseconds = 0;  // 0 where the file system keeps whole seconds only

        friend bool operator==(const Time&, const Time&) = default;
    };

    std::string relative;  // below the card root, "/"-separated, raw bytes
    int64_t byteSize = 0;
    Time modified;         // modification time
    Time changed;          // status-change time; zero where the file system keeps none
    uint64_t inode = 0;    // st_ino; 0: not known (a record made by hand)
    // XXH64 of the file's bytes as 16 lowercase hex digits, read from the open file this
    // record describes (the scan's proof of it, or a later read); "": never read, so nothing
    // can be vouched for by its bytes.
    std::string digest;

    friend bool operator==(const CardFileRecord&, const CardFileRecord&) = default;
};

}  // namespace tessaline
