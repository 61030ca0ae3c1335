#pragma once
// What a low-level probe ("blkid -p -o export <device>") reads from a device's superblock.
// Plain value; parsing is pure and safe on any thread.

#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

struct BlkidRecord {
    std::optional<std::string> type;     // "exfat", "vfat", "ext4", ...
    std::optional<std::string> uuid;     // "2A9C-A474" for FAT and exFAT
    std::optional<std::string> label;
    std::optional<std::string> version;  // "FAT32", "FAT16", "1.0", ...

    // Parses the export format: one KEY=value per line, with shell-style backslash escapes in
    // the value ("LABEL=MY\ CARD"). Unknown keys and malformed lines are ignored.
    static BlkidRecord fromExport(std::string_view text);
};

}  // namespace tessaline
