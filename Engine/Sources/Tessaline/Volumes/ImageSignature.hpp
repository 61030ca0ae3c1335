#pragma once
// Whether a file is a disk image or an archive, told by its first bytes: a file system or a
// partition table libblkid recognises (ext4, FAT, exFAT, squashfs, erofs, ISO 9660, MBR, GPT
// ...), a virtual-disk container (qcow2, VMDK, VHD, VHDX, VDI) or an archive or compressed
// stream (tar, zip, cpio, ar, 7z, RAR, cab, gzip, bzip2, xz, zstd, lz4). A log, a cache or any
// other file carries none of these. Reads a few blocks; needs read access to the file. Any
// thread; never throws.

#include <filesystem>

namespace tessaline {

// True when the regular file or block device at `file` (any path that opens it, such as
// /proc/<pid>/fd/<n>) carries one of the signatures above; false when it carries none or
// cannot be opened and read.
bool carriesImageSignature(const std::filesystem::path& file);

}  // namespace tessaline
