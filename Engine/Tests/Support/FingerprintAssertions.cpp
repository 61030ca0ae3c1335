#include "Support/FingerprintAssertions.hpp"

#include <gtest/gtest.h>

namespace tessaline::testing {

void expectSameFingerprint(const Fingerprint& actual, const Fingerprint& expected) {
    EXPECT_EQ(actual.url, expected.url);
    EXPECT_EQ(actual.byteSize, expected.byteSize);
    EXPECT_EQ(actual.captureDate, expected.captureDate);
    EXPECT_EQ(actual.duration, expected.duration);
    EXPECT_EQ(actual.cameraMake, expected.cameraMake);
    EXPECT_EQ(actual.cameraModel, expected.cameraModel);
    EXPECT_EQ(actual.codec, expected.codec);
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_EQ(actual.hasCameraTimestamp, expected.hasCameraTimestamp);
    EXPECT_EQ(actual.timestampSource, expected.timestampSource);
}

}  // namespace tessaline::testing
