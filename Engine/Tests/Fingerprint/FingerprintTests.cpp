#include "Tessaline/Fingerprint.hpp"

#include <gtest/gtest.h>

using namespace tessaline;

TEST(Fingerprint, DescriptionOfABareFile) {
    Fingerprint f{.url = "/card/empty.mov", .byteSize = 0};
    EXPECT_EQ(f.description(), "empty.mov  0.0 MB  [no timestamp]");
}

TEST(Fingerprint, DescriptionWithEveryPart) {
    Fingerprint f{.url = "/card/A001.MOV",
                  .byteSize = 1'234'567,
                  .captureDate = epochFromUtc(2024, 5, 1, 12, 34, 56) + 0.9,
                  .duration = 12.34,
                  .cameraMake = "Canon",
                  .cameraModel = "EOS R5",
                  .codec = "avc1",
                  .width = 3840,
                  .height = 2160,
                  .hasCameraTimestamp = true,
                  .timestampSource = TimestampSource::quickTimeAtom};
    EXPECT_EQ(f.description(),
              "A001.MOV  1.2 MB  2024-05-01T12:34:56Z  (QuickTime creationDate)  12.3s  Canon  EOS R5  "
              "3840\u00D72160  avc1");
}

TEST(Fingerprint, DescriptionLeavesOutHalfAPictureSizeAndKeepsEmptyText) {
    Fingerprint f{.url = "/card/IMG.JPG",
                  .byteSize = 250'000,
                  .captureDate = 0.0,
                  .cameraMake = "",
                  .width = 6000,
                  .timestampSource = TimestampSource::filesystemDate};
    // 0.25 MB rounds to even like printf; an empty make is present and keeps its part.
    EXPECT_EQ(f.description(), "IMG.JPG  0.2 MB  1970-01-01T00:00:00Z  (filesystem date (fallback))  ");
}

TEST(TimestampSource, RawValuesRoundTripExactly) {
    for (auto source : {TimestampSource::exifOriginal, TimestampSource::tiffDateTime, TimestampSource::quickTimeAtom,
                        TimestampSource::quickTimeMeta, TimestampSource::filesystemDate, TimestampSource::none})
        EXPECT_EQ(timestampSourceFromRaw(rawValue(source)), source);
    EXPECT_EQ(rawValue(TimestampSource::quickTimeMeta), "QuickTime metadata track");
    EXPECT_EQ(timestampSourceFromRaw("exif datetimeoriginal"), std::nullopt);
    EXPECT_EQ(timestampSourceFromRaw("no timestamp "), std::nullopt);
    EXPECT_EQ(timestampSourceFromRaw(""), std::nullopt);
    EXPECT_TRUE(isEmbedded(TimestampSource::quickTimeMeta));
    EXPECT_FALSE(isEmbedded(TimestampSource::filesystemDate));
    EXPECT_FALSE(isEmbedded(TimestampSource::none));
}
