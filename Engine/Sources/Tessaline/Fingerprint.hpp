#pragma once

#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Support/PathString.hpp"
#include "Tessaline/TimestampSource.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tessaline {

// A media file's identity by what the camera wrote into it. Build it with designated
// initializers in this order. No equality: consumers compare the fields they need.
// Invariants kept by every reader: hasCameraTimestamp exactly when timestampSource is
// embedded, and then captureDate is set; filesystemDate goes with a date and no camera
// flag; none goes with no date.
struct Fingerprint {
    PathString url;
    int64_t byteSize = 0;
    std::optional<EpochSeconds> captureDate;
    std::optional<double> duration;  // seconds, video and audio only
    std::optional<std::string> cameraMake;
    std::optional<std::string> cameraModel;
    std::optional<std::string> codec;  // four-character code of the first video track
    std::optional<int> width;
    std::optional<int> height;
    bool hasCameraTimestamp = false;
    TimestampSource timestampSource = TimestampSource::none;

    // One line for logs: the parts that have data, joined by two spaces.
    std::string description() const;
};

}  // namespace tessaline
