#pragma once
// The disk tool of this system: the absolute paths of the util-linux and mkfs programs that
// inspect and reformat volumes, and the runner that starts them. The defaults are Debian's
// paths and the real runner; tests substitute paths (a missing program) or the runner
// (canned output). Plain value; safe on any thread.

#include "Tessaline/Format/DiskToolRunner.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace tessaline {

struct DiskTool {
    struct Programs {
        std::filesystem::path findmnt{"/usr/bin/findmnt"};
        std::filesystem::path lsblk{"/usr/bin/lsblk"};
        std::filesystem::path blkid{"/usr/sbin/blkid"};
        std::filesystem::path umount{"/usr/bin/umount"};
        std::filesystem::path mount{"/usr/bin/mount"};
        std::filesystem::path mkfsExfat{"/usr/sbin/mkfs.exfat"};
        std::filesystem::path mkfsVfat{"/usr/sbin/mkfs.vfat"};
        std::filesystem::path mkapfs{"/usr/sbin/mkapfs"};
        std::filesystem::path mkfsHfsplus{"/usr/sbin/mkfs.hfsplus"};
    };

    Programs programs;
    DiskToolRunner runner = runDiskToolProgram;

    // Runs `program`; throws DriveFormatError::diskutilFailed with "Couldn't run <tool>: <reason>"
    // when it cannot be started. The child's own failure is in the result.
    ToolRun run(const std::filesystem::path& program, const std::vector<std::string>& arguments) const;

    // Runs `program` and returns its standard output when it exits with status 0; otherwise
    // throws DriveFormatError::diskutilFailed with failureText().
    std::string output(const std::filesystem::path& program, const std::vector<std::string>& arguments) const;

    // The sentence for a failed run: its standard error, else its standard output (valid UTF-8,
    // trimmed), else "<tool> failed (status <n>)." or "<tool> failed (signal <n>)."; <tool> is
    // the base name of the program that ran.
    static std::string failureText(const ToolRun& run);
};

}  // namespace tessaline
