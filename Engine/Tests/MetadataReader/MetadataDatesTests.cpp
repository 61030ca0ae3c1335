#include "Tessaline/MetadataReader/MetadataDates.hpp"

#include <gtest/gtest.h>

using namespace tessaline;

namespace {
const EpochSeconds may1 = epochFromUtc(2024, 5, 1, 12, 34, 56);
}

TEST(MetadataDates, ExifDateIsUtcWithSubsecondsTruncatedToMilliseconds) {
    EXPECT_EQ(parseExifDate("2024:05:01 12:34:56", std::nullopt), may1);
    EXPECT_DOUBLE_EQ(*parseExifDate("2024:05:01 12:34:56", "5"), may1 + 0.5);
    EXPECT_DOUBLE_EQ(*parseExifDate("2024:05:01 12:34:56", "50"), may1 + 0.5);
    EXPECT_DOUBLE_EQ(*parseExifDate("2024:05:01 12:34:56", "05"), may1 + 0.05);
    EXPECT_DOUBLE_EQ(*parseExifDate("2024:05:01 12:34:56", "123456"), may1 + 0.123);
    EXPECT_EQ(parseExifDate("2024:05:01 12:34:56", ""), may1);
}

TEST(MetadataDates, PaddedOrJunkSubsecondsKeepTheCameraDate) {
    // Cameras pad the sub-second text; it must never cost the whole date.
    EXPECT_DOUBLE_EQ(*parseExifDate("2024:05:01 12:34:56", "50 "), may1 + 0.5);
    EXPECT_DOUBLE_EQ(*parseExifDate("2024:05:01 12:34:56", std::string_view(" 7\0\0", 4)), may1 + 0.7);
    EXPECT_EQ(parseExifDate("2024:05:01 12:34:56", "   "), may1);
    EXPECT_EQ(parseExifDate("2024:05:01 12:34:56", "1a"), may1);
}

TEST(MetadataDates, ExifDateIsStrict) {
    for (const char* bad : {"0000:00:00 00:00:00", "                   ", "2024:05:01", "2024-05-01 12:34:56",
                            "2024:05:01 12:34:56 ", "2024:13:01 12:34:56", "0000:01:01 00:00:00", "2023:02:29 00:00:00",
                            "2024:04:31 00:00:00", "2024:05:01 24:00:00", "2024:05:01 12:60:00",
                            "2024:05:01 12:34:60", "2024:5:01 12:34:56", ""})
        EXPECT_FALSE(parseExifDate(bad, std::nullopt)) << bad;
    EXPECT_TRUE(parseExifDate("2024:02:29 23:59:59", std::nullopt));
    EXPECT_TRUE(parseExifDate("2000:02:29 00:00:00", std::nullopt));
    EXPECT_FALSE(parseExifDate("1900:02:29 00:00:00", std::nullopt));
}

TEST(MetadataDates, MetadataTextForms) {
    EXPECT_DOUBLE_EQ(*dateFromMetadataText("2024-05-01T12:34:56.789Z"), may1 + 0.789);
    EXPECT_EQ(dateFromMetadataText("2024-05-01T12:34:56Z"), may1);
    EXPECT_DOUBLE_EQ(*dateFromMetadataText("2024-05-01T12:34:56.000000Z"), may1);  // FFmpeg's form
    EXPECT_DOUBLE_EQ(*dateFromMetadataText("2024-05-01T12:34:56.123999999Z"), may1 + 0.123);
    EXPECT_EQ(dateFromMetadataText("2024-05-01T14:34:56+02:00"), may1);
    EXPECT_EQ(dateFromMetadataText("2024-05-01T14:34:56+0200"), may1);  // the phone form
    EXPECT_EQ(dateFromMetadataText("2024-05-01T07:34:56-0500"), may1);
    EXPECT_EQ(dateFromMetadataText("2024-05-01 12:34:56"), may1);  // no zone: UTC
}

TEST(MetadataDates, MetadataTextRejects) {
    for (const char* bad : {"2024-05-01T12:34:56", "2024-05-01T12:34:56.Z", "2024-05-01T12:34:56.1234567890Z",
                            "2024-05-01T12:34:56+2", "2024-05-01 12:34:56Z", "2024-05-01", "yesterday",
                            "2024-02-30T00:00:00Z", "2024:05:01 12:34:56", "2024-05-01T12:34:56Zjunk"})
        EXPECT_FALSE(dateFromMetadataText(bad)) << bad;
}
