#pragma once
// The part of a fingerprint the matcher compares. Plain value.

#include "Tessaline/Fingerprint.hpp"

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
};

}  // namespace tessaline
