#pragma once
// The part of a fingerprint the matcher compares. Plain value.

#include "Tessaline/Fingerprint.hpp"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace tessaline {

struct FingerprintKey {
    std::optional<double> captureEpoch;  // only a date the camera wrote; file-system dates do not count
    int64_t byteSize = 0;
    std::optional<std::string> codec;
    std::optional<int> width;
    std::optional<int> height;

    static FingerprintKey of(const Fingerprint& fp) {
        return {fp.hasCameraTimestamp ? fp.captureDate : std::nullopt, fp.byteSize, fp.codec, fp.width, fp.height};
    }

    // Whether `candidate` passes the matcher's tests against this key: the same size; codec,
    // width and height equal where both have them; camera times at most `tolerance` seconds
    // apart where both have one.
    bool fits(const Fingerprint& candidate, double tolerance) const {
        if (candidate.byteSize != byteSize) return false;
        if (codec && candidate.codec && *codec != *candidate.codec) return false;
        if (width && candidate.width && *width != *candidate.width) return false;
        if (height && candidate.height && *height != *candidate.height) return false;
        const auto epoch = candidate.hasCameraTimestamp ? candidate.captureDate : std::nullopt;
        if (captureEpoch && epoch && !(std::fabs(*captureEpoch - *epoch) <= tolerance)) return false;
        return true;
    }
};

}  // namespace tessaline
