#include "Tessaline/Matcher/Matcher.hpp"

#include <gtest/gtest.h>

using namespace tessaline;
using Kind = MatchStatus::Kind;

namespace {

const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);

Fingerprint clip(const std::string& path, int64_t size, std::optional<EpochSeconds> cameraDate = std::nullopt,
                 std::optional<std::string> codec = "avc1", std::optional<int> width = 1920, std::optional<int> height = 1080) {
    Fingerprint fp{.url = path, .byteSize = size, .captureDate = cameraDate, .codec = codec, .width = width, .height = height};
    fp.hasCameraTimestamp = cameraDate.has_value();
    fp.timestampSource = cameraDate ? TimestampSource::quickTimeAtom : TimestampSource::none;
    return fp;
}

Fingerprint fsDated(Fingerprint fp, EpochSeconds date) {
    fp.captureDate = date;
    fp.hasCameraTimestamp = false;
    fp.timestampSource = TimestampSource::filesystemDate;
    return fp;
}

ClipGroup single(const Fingerprint& fp) { return {{fp}, {}, ClipGroup::Kind::video}; }

MatchStatus statusOf(const Fingerprint& card, const std::vector<Fingerprint>& drives, double tolerance = 5.0) {
    Matcher matcher;
    matcher.captureTimeTolerance = tolerance;
    return matcher.match({single(card)}, drives).front().status;
}

}  // namespace

TEST(MatcherTest, ToleranceBoundaryIsInclusive) {
    auto card = clip("/card/A001.MOV", 100, noon);
    EXPECT_EQ(statusOf(card, {clip("/d/X.MOV", 100, noon + 5.0)}), MatchStatus::confirmed("/d/X.MOV"));
    EXPECT_EQ(statusOf(card, {clip("/d/X.MOV", 100, noon - 5.0)}), MatchStatus::confirmed("/d/X.MOV"));
    EXPECT_EQ(statusOf(card, {clip("/d/X.MOV", 100, noon + 5.01)}), MatchStatus::missing());
    // Dropped by time, the name decides.
    EXPECT_EQ(statusOf(card, {clip("/d/a001.mov", 100, noon + 5.01)}), MatchStatus::nameMatchMetadataMismatch("/d/a001.mov"));
}

TEST(MatcherTest, MissingMetadataRemovesOnlyItsTest) {
    // A key with only a file-system date accepts any same-size candidate whatever its date.
    auto card = fsDated(clip("/card/A.MOV", 100), noon);
    EXPECT_EQ(statusOf(card, {clip("/d/B.MOV", 100, noon + 3600)}), MatchStatus::confirmed("/d/B.MOV"));
    // A candidate without codec or frame size passes those tests.
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon), {clip("/d/B.MOV", 100, noon, std::nullopt, std::nullopt, std::nullopt)}),
              MatchStatus::confirmed("/d/B.MOV"));
    // But differing codec, width or height drop it; the codec is case-sensitive.
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon), {clip("/d/B.MOV", 100, noon, "AVC1")}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon), {clip("/d/B.MOV", 100, noon, "avc1", 1280)}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon), {clip("/d/B.MOV", 100, noon, "avc1", 1920, 720)}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon), {clip("/d/B.MOV", 101, noon)}), MatchStatus::missing());
    // Codec texts are compared whole, also past their first 8 bytes.
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon, "codec-long-1"), {clip("/d/B.MOV", 100, noon, "codec-long-2")}),
              MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon, "codec-long-1"), {clip("/d/B.MOV", 100, noon, "codec-long-1")}),
              MatchStatus::confirmed("/d/B.MOV"));
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon, ""), {clip("/d/B.MOV", 100, noon, "avc1")}), MatchStatus::missing());
}

TEST(MatcherTest, NearestTimeBreaksTies) {
    auto card = clip("/card/A.MOV", 100, noon);
    EXPECT_EQ(statusOf(card, {clip("/d1/A.MOV", 100, noon + 3), clip("/d2/A.MOV", 100, noon - 1)}),
              MatchStatus::confirmed("/d2/A.MOV"));
    EXPECT_EQ(statusOf(card, {clip("/d1/A.MOV", 100, noon + 2), clip("/d2/A.MOV", 100, noon - 2)}),
              MatchStatus::possibleDuplicate({"/d1/A.MOV", "/d2/A.MOV"}));
    EXPECT_EQ(statusOf(card, {clip("/d1/A.MOV", 100), clip("/d2/A.MOV", 100)}),
              MatchStatus::possibleDuplicate({"/d1/A.MOV", "/d2/A.MOV"}));
    // One dated candidate beats undated ones.
    EXPECT_EQ(statusOf(card, {clip("/d1/A.MOV", 100), clip("/d2/A.MOV", 100, noon + 4)}), MatchStatus::confirmed("/d2/A.MOV"));
    // An undated card file: every fitting copy is a possible duplicate.
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100), {clip("/d1/A.MOV", 100, noon), clip("/d2/A.MOV", 100, noon + 1)}),
              MatchStatus::possibleDuplicate({"/d1/A.MOV", "/d2/A.MOV"}));
    // File-system dates decide the nearest copy when that is all there is.
    auto fsCard = fsDated(clip("/card/A.MOV", 100), noon);
    EXPECT_EQ(statusOf(fsCard, {fsDated(clip("/d1/A.MOV", 100), noon + 50), fsDated(clip("/d2/A.MOV", 100), noon + 10)}),
              MatchStatus::confirmed("/d2/A.MOV"));
}

TEST(MatcherTest, NameFallbackIgnoresSizeAndCaseButNotTheExtension) {
    EXPECT_EQ(statusOf(clip("/card/A001.MOV", 100), {clip("/d/other.mov", 300), clip("/d/x/a001.mov", 200)}),
              MatchStatus::nameMatchMetadataMismatch("/d/x/a001.mov"));
    // Another extension is another name: a RAW's JPEG twin, a clip transcoded, a stem of dots.
    EXPECT_EQ(statusOf(clip("/card/A001.MOV", 100), {clip("/d/x/a001.mp4", 200)}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/IMG_0001.CR3", 100), {clip("/d/IMG_0001.JPG", 5)}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/clip.tar.gz", 1), {clip("/d/CLIP.TAR.zip", 2)}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/clip.tar.gz", 1), {clip("/d/CLIP.TAR.GZ", 2)}),
              MatchStatus::nameMatchMetadataMismatch("/d/CLIP.TAR.GZ"));
    EXPECT_EQ(statusOf(clip("/card/A", 1), {clip("/d/a.MOV", 2)}), MatchStatus::missing());
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100), {}), MatchStatus::missing());
}

TEST(MatcherTest, NameFallbacksOfManyClipsTakeEachNamesFirstDriveFile) {
    // Every clip without a fitting drive file in one call: shared names, a name only on the
    // card, and confirmed clips and empty groups in between keep their own verdicts.
    std::vector<Fingerprint> drives{clip("/card/DCIM/B.MOV", 1),  clip("/d/1/B.MOV", 7), clip("/d/2/b.mp4", 8),
                                    clip("/d/A.MOV", 100, noon), clip("/d/3/C.MXF", 9), clip("/card/DCIM/N.MOV", 4),
                                    clip("/d/4/c.mxf", 10)};
    std::vector<ClipGroup> card{single(clip("/card/DCIM/A.MOV", 100, noon)),
                                single(clip("/card/DCIM/B.MOV", 1)),
                                ClipGroup{},
                                single(clip("/card/X/b.mov", 2)),
                                single(clip("/card/DCIM/C.MXF", 3)),
                                single(clip("/card/DCIM/N.MOV", 4)),
                                single(clip("/card/DCIM/A.MP4", 5)),
                                single(clip("/card/Y/B.MP4", 6))};
    auto results = Matcher{}.match(card, drives, std::filesystem::path("/card"));
    ASSERT_EQ(results.size(), card.size());
    EXPECT_EQ(results[0].status, MatchStatus::confirmed("/d/A.MOV"));
    EXPECT_EQ(results[1].status, MatchStatus::nameMatchMetadataMismatch("/d/1/B.MOV"));
    EXPECT_TRUE(results[2].isMissing());
    EXPECT_EQ(results[3].status, MatchStatus::nameMatchMetadataMismatch("/d/1/B.MOV"));
    EXPECT_EQ(results[4].status, MatchStatus::nameMatchMetadataMismatch("/d/3/C.MXF"));
    EXPECT_TRUE(results[5].isMissing());  // its only namesake is on the card
    EXPECT_TRUE(results[6].isMissing());  // A.MOV is another name
    EXPECT_EQ(results[7].status, MatchStatus::nameMatchMetadataMismatch("/d/2/b.mp4"));
}

TEST(MatcherTest, GroupsAndDriveFilesAreNotConsumed) {
    Matcher matcher;
    auto a = clip("/card/A/C.MOV", 100, noon);
    auto b = clip("/card/B/C.MOV", 100, noon);
    auto results = matcher.match({single(a), single(b), ClipGroup{}}, {clip("/d/C.MOV", 100, noon)});
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].status, MatchStatus::confirmed("/d/C.MOV"));
    EXPECT_EQ(results[1].status, MatchStatus::confirmed("/d/C.MOV"));
    EXPECT_TRUE(results[2].isMissing());
    EXPECT_EQ(results[2].primaryName(), "?");
}

TEST(MatcherTest, FilesOnTheCardNeverMatch) {
    Matcher matcher;
    auto card = clip("/media/CARD/DCIM/A.MOV", 100, noon);
    // The card scanned as a drive: its own file is no candidate; the real copy wins.
    auto drives = std::vector<Fingerprint>{card, clip("/media/CARD/backup/A.MOV", 100, noon),
                                           clip("/media/BACKUP/A.MOV", 100, noon + 3)};
    auto status = matcher.match({single(card)}, drives, std::filesystem::path("/media/CARD/")).front().status;
    EXPECT_EQ(status, MatchStatus::confirmed("/media/BACKUP/A.MOV"));
    // Only the card's own copies: missing, not even a name mismatch.
    status = matcher.match({single(card)}, {card}, std::filesystem::path("/media/CARD")).front().status;
    EXPECT_EQ(status, MatchStatus::missing());
    // A sibling folder whose name starts like the card's is not inside it.
    status = matcher.match({single(card)}, {clip("/media/CARD2/A.MOV", 100, noon)}, std::filesystem::path("/media/CARD"))
                 .front()
                 .status;
    EXPECT_EQ(status, MatchStatus::confirmed("/media/CARD2/A.MOV"));
}

TEST(MatcherTest, LargeSameSizeBucketsGiveTheSameVerdicts) {
    // 200 drive files of one size (sorted by time inside the index) against cards at the edges.
    std::vector<Fingerprint> drives;
    for (int i = 0; i < 200; ++i) drives.push_back(clip("/d/F" + std::to_string(i) + ".MOV", 100, noon + 20.0 * i));
    drives.push_back(clip("/d/undated.MOV", 100));
    drives.push_back(fsDated(clip("/d/fs.MOV", 100), noon));
    // Within 5 s of F10 only, plus the two without camera time: nearest is F10.
    EXPECT_EQ(statusOf(clip("/card/A.MOV", 100, noon + 205), drives), MatchStatus::confirmed("/d/F10.MOV"));
    // Exactly between F10 and F11 with a 10 s tolerance: both fit, plus the two undated ones.
    auto status = statusOf(clip("/card/A.MOV", 100, noon + 210), drives, 10.0);
    EXPECT_EQ(status, MatchStatus::possibleDuplicate({"/d/F10.MOV", "/d/F11.MOV", "/d/undated.MOV", "/d/fs.MOV"}));
    // Inclusive boundary inside a large bucket too.
    auto boundary = statusOf(clip("/card/A.MOV", 100, noon + 45), drives, 5.0);
    ASSERT_EQ(boundary.kind(), Kind::confirmed);  // F2 at 40 s is 5.0 s away, nearer than the undated ones
    EXPECT_EQ(boundary.path(), "/d/F2.MOV");
}

TEST(MatchResultTest, DescriptionAndAlphabeticalOrder) {
    auto r = [](const std::string& path, MatchStatus status) { return MatchResult{single(clip(path, 1)), std::move(status)}; };
    EXPECT_EQ(r("/c/A.MOV", MatchStatus::confirmed("/d/A.MOV")).description(), "confirmed    A.MOV  \u2192  /d/A.MOV");
    EXPECT_EQ(r("/c/A.MOV", MatchStatus::nameMatchMetadataMismatch("/d/a.mp4")).description(),
              "name-mismatch  A.MOV  \u2248  /d/a.mp4");
    EXPECT_EQ(r("/c/A.MOV", MatchStatus::possibleDuplicate({"/d/1", "/d/2"})).description(), "duplicate    A.MOV  \u00D72 copies");
    EXPECT_EQ(r("/c/A.MOV", MatchStatus::missing()).description(), "MISSING      A.MOV");

    auto sorted = alphabetical({r("/c/c.mov", MatchStatus::missing()), r("/z/X.MOV", MatchStatus::missing()),
                                r("/c/B.mov", MatchStatus::missing()), r("/a/X.MOV", MatchStatus::missing()),
                                r("/c/a.mov", MatchStatus::missing())});
    std::vector<std::string> paths;
    for (const auto& result : sorted) paths.push_back(result.group.primaryFiles.front().url.native());
    EXPECT_EQ(paths, (std::vector<std::string>{"/c/a.mov", "/c/B.mov", "/c/c.mov", "/a/X.MOV", "/z/X.MOV"}));
}
