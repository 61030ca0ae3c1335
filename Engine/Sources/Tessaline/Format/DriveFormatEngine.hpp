#pragma once
// Inspects a mounted external volume and reformats it with a new file system through the
// disk tool (util-linux and the mkfs programs, run by absolute path without a shell).
// Refuses internal volumes, every volume on the system's own disk, anything that is not a
// partition, whole disk or loop device, and a volume that is no longer the one inspected.
// No state; both operations block their caller until the child processes have exited.

#include "Tessaline/Format/DiskInfo.hpp"
#include "Tessaline/Format/DiskTool.hpp"
#include "Tessaline/Format/DriveFormat.hpp"
#include "Tessaline/Format/DriveFormatError.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

class DriveFormatEngine {
public:
    using Format = DriveFormat;
    using FormatError = DriveFormatError;

    struct VolumeFacts {
        std::string deviceIdentifier;  // the block device node, "/dev/sdb1"
        std::string volumeName;
        bool isInternal = false;       // always false in what inspect() returns
        std::string mountPoint;
        int64_t totalBytes = 0;
        std::string filesystem;        // "ExFAT", "MS-DOS (FAT32)", "ext4", "unknown", ...
        std::string uuid;              // the file system's UUID, checked again before formatting
        std::string fsType;            // the on-disk type ("exfat"), empty when unknown
        std::string deviceType;        // "part", "disk" or "loop"
        // The mount at the volume's path (lastingMountId): a volume mounted again, even the
        // same one, gets another. nullopt where the kernel gives no mount ID.
        std::optional<uint64_t> mountId;

        friend bool operator==(const VolumeFacts&, const VolumeFacts&) = default;
    };

    DriveFormatEngine() = delete;

    // The facts of the volume mounted at `volumeAt`. Throws FormatError: cannotInspect when
    // it cannot be identified (no mount exactly there, no block device, no UUID),
    // refusedInternal, refusedBootVolume, or diskutilFailed when a tool fails.
    static VolumeFacts inspect(const std::filesystem::path& volumeAt, const DiskTool& tool = {});

    // The volume at `volumeAt` inspected afresh, refused with volumeChanged unless it is still
    // the one `inspected` describes: the same block device, the same file system UUID and the
    // same mount. Every refusal of inspect() applies too. Run just before anything is unmounted.
    static VolumeFacts confirmSame(const std::filesystem::path& volumeAt, const VolumeFacts& inspected,
                                   const DiskTool& tool = {});

    // The name of the program that makes `format` ("mkapfs") when it is not installed here,
    // so reformat() would refuse the format; nullopt when it is there.
    static std::optional<std::string> missingFormatProgram(Format format, const DiskTool& tool = {});

    // Erases the volume at `volumeAt` with `format`, labelled with `newName` (or the current
    // name when `newName` is empty) normalised for the format, "UNTITLED" when that is empty.
    // `inspected` is what inspect() returned when the user chose the volume: the volume is
    // inspected afresh and refused unless it is still the same (confirmSame). The format's program is checked before anything is
    // unmounted (formatUnavailable); then every mount of the device is unmounted, the
    // superblock is probed again, and mkfs runs. Returns mkfs's standard output ("Done."
    // when it is not UTF-8). A failure after the unmount re-mounts the volume where it was,
    // as far as possible, and throws diskutilFailed with the failing program's own text.
    static std::string reformat(const std::filesystem::path& volumeAt, Format format, std::string_view newName,
                                const VolumeFacts& inspected, const DiskTool& tool = {});

    // The checks of inspect() on gathered facts: the fallbacks of absent keys, the internal
    // rule (internal unless "Internal" is false, or removable, or ejectable), then the boot
    // rule (mount point "/" or below "/System", or a device on the system's disk).
    static VolumeFacts factsFrom(const DiskInfo& info, const std::filesystem::path& volumeAt);

    // The label a reformat writes: `newName` (untrimmed test for emptiness) or else
    // `currentName`, normalised for `format`; "UNTITLED" when that comes out empty.
    static std::string labelFor(Format format, std::string_view newName, std::string_view currentName);
};

}  // namespace tessaline
