#pragma once

#include <cstdint>
#include <string>

namespace tessaline {

// One file an erase of a card would delete, as a walk of the card found it: its place below
// the card root and the facts that change whenever its bytes are rewritten. Two records of
// one path that differ in any field mean the file was added to, cut, rewritten or replaced
// between the two walks. Plain value.
struct CardFileRecord {
    std::string relative;    // below the card root, "/"-separated, raw bytes
    int64_t byteSize = 0;
    int64_t modifiedNs = 0;  // modification time, nanoseconds since the epoch (whole seconds
                             // where the file system keeps no finer time)
    int64_t changedNs = 0;   // status-change time likewise; 0 where the file system keeps none

    friend bool operator==(const CardFileRecord&, const CardFileRecord&) = default;
};

}  // namespace tessaline
