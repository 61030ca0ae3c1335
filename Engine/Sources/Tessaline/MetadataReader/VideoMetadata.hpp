#pragma once
// Embedded metadata of a video or audio file through FFmpeg's libavformat, with our own
// QuickTime item reader for the mov family: creation date, creation-date items, duration,
// the first video track's codec and stored size, make and camera identifier.
// Requires initializeMediaLibraries(). Safe on several threads at once (each call has its
// own format context).

#include "Tessaline/MetadataReader/EmbeddedMetadata.hpp"

#include <filesystem>
#include <optional>

namespace tessaline {

// nullopt when the file cannot be opened by one of the accepted demuxers or its streams
// cannot be analysed: the caller then gives the degraded fingerprint, dropping anything
// found so far.
std::optional<EmbeddedMetadata> readVideoMetadata(const std::filesystem::path& path);

}  // namespace tessaline
