#pragma once
// What a media file itself declares, before the file-system fallback is applied.
// Produced by the still and the video readers, turned into a Fingerprint by
// NativeMetadataReader.

#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/TimestampSource.hpp"

#include <optional>
#include <string>

namespace tessaline {

struct EmbeddedMetadata {
    std::optional<EpochSeconds> captureDate;  // a camera date; when set, `source` is embedded
    TimestampSource source = TimestampSource::none;
    std::optional<double> duration;
    std::optional<std::string> cameraMake;
    std::optional<std::string> cameraModel;
    std::optional<std::string> codec;
    std::optional<int> width;
    std::optional<int> height;
};

}  // namespace tessaline
