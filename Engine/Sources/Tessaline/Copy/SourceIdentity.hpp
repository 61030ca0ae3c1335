#pragma once
// What a card file is at one moment (internal to the copy engine): its device, inode, size
// and modification and change times to the nanosecond. Taken before a file is read, after the
// read and after its copy is proven; any difference means the bytes copied may not be the
// file's bytes now (rewritten in place at the same size, patched where it was already read,
// or replaced by a rename), so the copy is not proven. The change time cannot be set by
// programs, so a rewrite that puts the old modification time back is still seen where the
// file system keeps change times. FAT and exFAT keep no change time and FUSE exFAT gives
// whole seconds: there a same-size rewrite within the same second cannot be seen.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tessaline {

struct SourceIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t size = 0;
    int64_t modifiedSeconds = 0;
    uint32_t modifiedNanoseconds = 0;
    int64_t changedSeconds = 0;
    uint32_t changedNanoseconds = 0;

    // nullopt when the file cannot be examined.
    static std::optional<SourceIdentity> ofDescriptor(int fd);
    // The file `path` leads to now (links followed, as the copy opens it).
    static std::optional<SourceIdentity> ofPath(const std::filesystem::path& path);

    bool operator==(const SourceIdentity&) const = default;

    static const char* changedText;  // "The card file changed while it was copied."
};

}  // namespace tessaline
