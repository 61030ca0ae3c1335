#pragma once
// The scan benchmarks' card and backup drive: `count` real media files on the card (photos
// and videos made once with ffmpeg and exiftool, each copy made distinct by padding that
// the readers skip: bytes after a JPEG's end marker, a trailing "free" box in a QuickTime
// file), in folders of 50, and the same files under other names on the drive. Made once
// under `root` and reused.

#include <filesystem>

namespace bench {

struct ScanBenchData {
    std::filesystem::path card;
    std::filesystem::path drive;
};

ScanBenchData ensureScanBenchData(const std::filesystem::path& root, int count);

}  // namespace bench
