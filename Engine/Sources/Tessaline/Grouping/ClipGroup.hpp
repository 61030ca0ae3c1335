#pragma once
// One camera shot on a card: its media files (one, or the pieces of a spanned video, a RAW
// file with its JPEG twin, a burst of stills), the sidecar files that go with it, and its
// kind. Plain value; safe to copy and read on any thread.

#include "Tessaline/Fingerprint.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct ClipGroup {
    enum class Kind { video, still, burstSet, rawJpegPair };

    std::vector<Fingerprint> primaryFiles;           // multi-file groups: sorted by full path
    std::vector<std::filesystem::path> sidecars;     // never counted in sizes; proven as OtherFile
    Kind kind = Kind::still;

    // The sum of the primaries' sizes; 0 without primaries.
    int64_t totalByteSize() const;
    // The capture date of the first primary whose date came from the camera; a file-system
    // date never becomes a group's date.
    std::optional<EpochSeconds> captureDate() const;
    // "A.CR3 + A.JPG  2024-05-01T12:00:00Z  15.5 MB  [1 sidecars]" ("no date" without a
    // date; the sidecar note only when there are sidecars). Names shown as valid UTF-8.
    std::string description() const;
};

}  // namespace tessaline
