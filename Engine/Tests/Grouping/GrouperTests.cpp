#include "Support/MediaFixtures.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tessaline;
using Kind = ClipGroup::Kind;

namespace {

const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);

Fingerprint file(const std::string& path, std::optional<EpochSeconds> cameraDate = std::nullopt, int64_t size = 1000,
                 std::optional<std::string> model = std::nullopt) {
    Fingerprint fp{.url = path, .byteSize = size, .captureDate = cameraDate, .cameraModel = model};
    fp.hasCameraTimestamp = cameraDate.has_value();
    fp.timestampSource = cameraDate ? TimestampSource::exifOriginal : TimestampSource::none;
    return fp;
}

Fingerprint fileSystemDated(const std::string& path, EpochSeconds date) {
    Fingerprint fp{.url = path, .byteSize = 1000, .captureDate = date};
    fp.timestampSource = TimestampSource::filesystemDate;
    return fp;
}

MediaFile sidecar(const std::string& path) { return {path, MediaFile::Kind::sidecar, 10}; }

std::vector<std::string> names(const ClipGroup& group) {
    std::vector<std::string> out;
    for (const auto& fp : group.primaryFiles) out.push_back(fp.url.filename().string());
    return out;
}

// The group holding `name`; fails the test when there is none.
const ClipGroup& groupOf(const std::vector<ClipGroup>& groups, const std::string& name) {
    for (const auto& g : groups)
        for (const auto& fp : g.primaryFiles)
            if (fp.url.filename() == name) return g;
    ADD_FAILURE() << name << " is in no group";
    static ClipGroup none;
    return none;
}

std::vector<ClipGroup> group(const std::vector<Fingerprint>& media, const std::vector<MediaFile>& sidecars = {}) {
    return Grouper().group(media, sidecars);
}

}  // namespace

TEST(GrouperTest, SpannedVideoKeys) {
    auto groups = group({file("/c/clip_002.mov"), file("/c/clip_001.mov"), file("/c/take.mov"), file("/c/take_7.mov"),
                         file("/c/a_1_2.mov"), file("/c/a_1_3.mov"), file("/c/GH010123.MP4"), file("/c/GH020123.MP4"),
                         file("/d/clip_003.mov"), file("/c/CLIP_004.MOV")});
    const auto& clip = groupOf(groups, "clip_001.mov");
    EXPECT_EQ(clip.kind, Kind::video);
    // Extension and stem case are ignored, the folder is not; pieces are sorted by path.
    EXPECT_EQ(names(clip), (std::vector<std::string>{"CLIP_004.MOV", "clip_001.mov", "clip_002.mov"}));
    EXPECT_EQ(names(groupOf(groups, "take.mov")), (std::vector<std::string>{"take.mov", "take_7.mov"}));
    EXPECT_EQ(names(groupOf(groups, "a_1_2.mov")), (std::vector<std::string>{"a_1_2.mov", "a_1_3.mov"}));
    EXPECT_EQ(groupOf(groups, "GH010123.MP4").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "GH020123.MP4").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "clip_003.mov").primaryFiles.size(), 1u);
    EXPECT_EQ(groups.size(), 6u);
}

TEST(GrouperTest, SpannedBaseFollowsTheRegularExpression) {
    // \d is any Unicode decimal digit; "a__12" has the base "a_"; "_001" the empty base;
    // "x_12_" no suffix; a line break inside the stem stops the match.
    auto groups = group({file("/c/clip_\u0661\u0662.mov"), file("/c/clip_\uFF11\uFF12.mov"), file("/c/a__12.mov"),
                         file("/c/a_.mov"), file("/c/_001.mov"), file("/c/_7.mov"), file("/c/x_12_.mov"),
                         file("/c/x_13_.mov"), file("/c/a\nb_01.mov"), file("/c/a\nb_02.mov")});
    EXPECT_EQ(groupOf(groups, "clip_\u0661\u0662.mov").primaryFiles.size(), 2u);
    EXPECT_EQ(groupOf(groups, "a__12.mov").primaryFiles.size(), 2u);
    EXPECT_EQ(groupOf(groups, "_001.mov").primaryFiles.size(), 2u);
    EXPECT_EQ(groupOf(groups, "x_12_.mov").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "a\nb_01.mov").primaryFiles.size(), 1u);
}

TEST(GrouperTest, RawJpegPairs) {
    auto groups = group({
        file("/c/IMG_0001.CR3", noon), file("/c/IMG_0001.JPG", noon + 0.5),          // pair
        file("/c/IMG_0002.CR3", noon + 10), file("/c/IMG_0002.JPG", noon + 11),       // 1.0 s apart: no pair
        file("/c/IMG_0003.NEF", noon + 20), file("/c/img_0003.jpg"),                   // one undated: pair
        file("/c/IMG_0004.JPG", noon + 30), file("/c/IMG_0004.JPEG", noon + 30),      // no RAW: no pair
        file("/c/IMG_0005.HEIC", noon + 40), file("/c/IMG_0005.CR3", noon + 40),      // HEIC never pairs
        file("/c/IMG_0006.CR2", noon + 50), file("/d/IMG_0006.JPG", noon + 50),       // two folders
    });
    const auto& pair = groupOf(groups, "IMG_0001.CR3");
    EXPECT_EQ(pair.kind, Kind::rawJpegPair);
    EXPECT_EQ(names(pair), (std::vector<std::string>{"IMG_0001.CR3", "IMG_0001.JPG"}));
    EXPECT_EQ(groupOf(groups, "IMG_0002.CR3").kind, Kind::still);
    EXPECT_EQ(groupOf(groups, "IMG_0002.JPG").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "IMG_0003.NEF").kind, Kind::rawJpegPair);
    EXPECT_EQ(groupOf(groups, "IMG_0004.JPG").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "IMG_0005.HEIC").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "IMG_0006.CR2").primaryFiles.size(), 1u);
}

TEST(GrouperTest, BurstsByFolderModelAndWholeSecond) {
    auto groups = group({
        file("/c/B1.JPG", noon + 0.1, 1, "R5"), file("/c/B2.JPG", noon + 0.5, 1, "R5"), file("/c/B3.JPG", noon + 0.9, 1, "R5"),
        file("/c/S1.JPG", noon + 60.9, 1, "R5"), file("/c/S2.JPG", noon + 61.1, 1, "R5"), file("/c/S3.JPG", noon + 61.2, 1, "R5"),
        file("/c/U1.JPG", noon + 120.0), file("/c/U2.JPG", noon + 120.2), file("/c/U3.JPG", noon + 120.4),
        fileSystemDated("/c/F1.JPG", noon + 180), fileSystemDated("/c/F2.JPG", noon + 180), fileSystemDated("/c/F3.JPG", noon + 180),
    });
    const auto& burst = groupOf(groups, "B2.JPG");
    EXPECT_EQ(burst.kind, Kind::burstSet);
    EXPECT_EQ(names(burst), (std::vector<std::string>{"B1.JPG", "B2.JPG", "B3.JPG"}));
    // 60.9 falls in another second than 61.1 and 61.2: three singles.
    EXPECT_EQ(groupOf(groups, "S1.JPG").primaryFiles.size(), 1u);
    EXPECT_EQ(groupOf(groups, "S2.JPG").primaryFiles.size(), 1u);
    // No model: they share "unknown".
    EXPECT_EQ(groupOf(groups, "U1.JPG").kind, Kind::burstSet);
    // File-system dates never form bursts.
    EXPECT_EQ(groupOf(groups, "F1.JPG").kind, Kind::still);
    EXPECT_EQ(groupOf(groups, "F1.JPG").primaryFiles.size(), 1u);
}

TEST(GrouperTest, EarlierStepsTakeFilesFirst) {
    // A pair takes its JPEG before the burst step sees it; the other two stay single.
    auto groups = group({file("/c/P.CR3", noon + 0.1, 1, "R5"), file("/c/P.JPG", noon + 0.2, 1, "R5"),
                         file("/c/Q.JPG", noon + 0.3, 1, "R5"), file("/c/R.JPG", noon + 0.4, 1, "R5"),
                         file("/c/song.wav")});
    EXPECT_EQ(groupOf(groups, "P.JPG").kind, Kind::rawJpegPair);
    EXPECT_EQ(groupOf(groups, "Q.JPG").kind, Kind::still);
    EXPECT_EQ(groupOf(groups, "song.wav").kind, Kind::still);
    size_t members = 0;
    for (const auto& g : groups) members += g.primaryFiles.size();
    EXPECT_EQ(members, 5u);
}

TEST(GrouperTest, SidecarsAttachByStemAcrossFolders) {
    auto groups = group({file("/c/A/IMG_0001.CR3", noon), file("/c/A/IMG_0001.JPG", noon), file("/c/B/img_0001.jpg", noon + 5),
                         file("/c/clip_001.mov", noon + 9), file("/c/clip_002.mov", noon + 9)},
                        {sidecar("/c/A/IMG_0001.XMP"), sidecar("/c/clip_001.xml"), sidecar("/c/clip_002.XML"),
                         sidecar("/c/C0001M01.XML")});
    const auto& pair = groupOf(groups, "IMG_0001.CR3");
    EXPECT_EQ(pair.sidecars, (std::vector<std::filesystem::path>{"/c/A/IMG_0001.XMP"}));
    EXPECT_EQ(groupOf(groups, "img_0001.jpg").sidecars, (std::vector<std::filesystem::path>{"/c/A/IMG_0001.XMP"}));
    EXPECT_EQ(groupOf(groups, "clip_001.mov").sidecars,
              (std::vector<std::filesystem::path>{"/c/clip_001.xml", "/c/clip_002.XML"}));
}

TEST(GrouperTest, NumberedMetadataFilesJoinTheirClip) {
    auto groups = group({file("/c/M4ROOT/CLIP/C0001.MP4", noon), file("/c/M4ROOT/CLIP/c0002.mp4", noon + 1),
                         file("/c/M4ROOT/CLIP/C0003.MP4", noon + 2), file("/c/M4ROOT/CLIP/C0004M01.MP4", noon + 3)},
                        {sidecar("/c/M4ROOT/CLIP/C0001M01.XML"), sidecar("/c/M4ROOT/CLIP/C0002m02.xml"),
                         sidecar("/c/M4ROOT/CLIP/C0003M1.XML"), sidecar("/c/M4ROOT/CLIP/C0003MA1.XML"),
                         sidecar("/c/M4ROOT/CLIP/C0004M01.XML")});
    EXPECT_EQ(groupOf(groups, "C0001.MP4").sidecars,
              (std::vector<std::filesystem::path>{"/c/M4ROOT/CLIP/C0001M01.XML"}));
    EXPECT_EQ(groupOf(groups, "c0002.mp4").sidecars,
              (std::vector<std::filesystem::path>{"/c/M4ROOT/CLIP/C0002m02.xml"}));
    // Not an "M" and two digits: no join.
    EXPECT_TRUE(groupOf(groups, "C0003.MP4").sidecars.empty());
    // The exact stem still joins, once.
    EXPECT_EQ(groupOf(groups, "C0004M01.MP4").sidecars,
              (std::vector<std::filesystem::path>{"/c/M4ROOT/CLIP/C0004M01.XML"}));
}

TEST(GrouperTest, OrderByCameraDateThenPathWithUndatedLast) {
    auto groups = group({fileSystemDated("/c/z_fs.jpg", noon - 1000), file("/c/b.jpg", noon), file("/c/a.jpg", noon),
                         file("/c/early.jpg", noon - 10), file("/c/y_undated.jpg"), file("/c/x_undated.jpg")});
    std::vector<std::string> order;
    for (const auto& g : groups) order.push_back(names(g).front());
    EXPECT_EQ(order, (std::vector<std::string>{"early.jpg", "a.jpg", "b.jpg", "x_undated.jpg", "y_undated.jpg", "z_fs.jpg"}));
    EXPECT_TRUE(group({}, {sidecar("/c/x.xmp")}).empty());
}

TEST(ClipGroupTest, DerivedValues) {
    ClipGroup pair{{file("/c/IMG_0001.CR3", std::nullopt, 12'000'000), file("/c/IMG_0001.JPG", noon, 3'456'789)},
                   {"/c/IMG_0001.XMP"}, Kind::rawJpegPair};
    EXPECT_EQ(pair.totalByteSize(), 15'456'789);
    EXPECT_EQ(pair.captureDate(), noon);
    EXPECT_EQ(pair.description(), "IMG_0001.CR3 + IMG_0001.JPG  2024-05-01T12:00:00Z  15.5 MB  [1 sidecars]");

    ClipGroup undated{{fileSystemDated("/c/bad\xff.jpg", noon)}, {}, Kind::still};
    EXPECT_FALSE(undated.captureDate());
    EXPECT_EQ(undated.description(), "bad\xEF\xBF\xBD.jpg  no date  0.0 MB");
    EXPECT_EQ(ClipGroup{}.totalByteSize(), 0);
}

namespace {

Fingerprint piece(const std::string& path, std::optional<EpochSeconds> date, std::optional<double> seconds) {
    Fingerprint fp = file(path, date);
    fp.duration = seconds;
    return fp;
}

size_t clipsOf(const std::vector<ClipGroup>& groups) { return groups.size(); }

}  // namespace

TEST(GrouperTest, SpannedPiecesMustFollowEachOtherInRecordingTime) {
    // Separate recordings a minute apart share the "mvi" base but not a recording.
    auto separate = group({piece("/c/MVI_0321.MP4", noon, 12), piece("/c/MVI_0322.MP4", noon + 60, 14),
                           piece("/c/MVI_0323.MP4", noon + 120, 9), piece("/c/MVI_0324.MP4", noon + 180, 11)});
    EXPECT_EQ(clipsOf(separate), 4u);
    for (const auto& g : separate) EXPECT_EQ(g.primaryFiles.size(), 1u);

    // One recording dated by each piece's start: the gap is the earlier piece's length.
    auto byStart = group({piece("/c/CLIP_002.MOV", noon + 600, 120), piece("/c/CLIP_001.MOV", noon, 600)});
    ASSERT_EQ(clipsOf(byStart), 1u);
    EXPECT_EQ(names(byStart.front()), (std::vector<std::string>{"CLIP_001.MOV", "CLIP_002.MOV"}));
    // Dated by each piece's end: the gap is the later piece's length, a little late.
    EXPECT_EQ(clipsOf(group({piece("/c/a_1.mov", noon, 300), piece("/c/a_2.mov", noon + 303, 300)})), 1u);
    // Beyond the longer piece plus the slack: two recordings.
    EXPECT_EQ(clipsOf(group({piece("/c/b_1.mov", noon, 300), piece("/c/b_2.mov", noon + 306, 30)})), 2u);

    // A break in the middle splits the run; the pieces on each side stay together.
    auto split = group({piece("/c/day_1.mov", noon, 60), piece("/c/day_2.mov", noon + 60, 60),
                        piece("/c/day_3.mov", noon + 3600, 60), piece("/c/day_4.mov", noon + 3660, 20),
                        piece("/c/day_5.mov", noon + 7200, 20)});
    EXPECT_EQ(names(groupOf(split, "day_1.mov")), (std::vector<std::string>{"day_1.mov", "day_2.mov"}));
    EXPECT_EQ(names(groupOf(split, "day_3.mov")), (std::vector<std::string>{"day_3.mov", "day_4.mov"}));
    EXPECT_EQ(groupOf(split, "day_5.mov").primaryFiles.size(), 1u);
    EXPECT_EQ(clipsOf(split), 3u);

    // Dates from the file system count too; without durations only the slack is left.
    EXPECT_EQ(clipsOf(group({fileSystemDated("/c/f_1.mov", noon), fileSystemDated("/c/f_2.mov", noon + 60)})), 2u);
    EXPECT_EQ(clipsOf(group({fileSystemDated("/c/g_1.mov", noon), fileSystemDated("/c/g_2.mov", noon + 2)})), 1u);

    // An undated piece proves nothing and keeps today's grouping, as do undated pieces alone.
    EXPECT_EQ(clipsOf(group({piece("/c/u_1.mov", noon, 5), piece("/c/u_2.mov", std::nullopt, 5),
                             piece("/c/u_3.mov", noon + 7, 5)})), 1u);
    EXPECT_EQ(clipsOf(group({file("/c/MVI_0001.MP4"), file("/c/MVI_0002.MP4")})), 1u);
}

class GrouperMediaTest : public tessaline::testing::SandboxedTest {
protected:
    std::vector<ClipGroup> groupFolder(const std::vector<std::string>& names) {
        NativeMetadataReader reader;
        std::vector<Fingerprint> media;
        for (const auto& name : names) media.push_back(reader.fingerprint(sandbox / name));
        return group(media);
    }
};

TEST_F(GrouperMediaTest, RecordingsFromRealFilesGroupByTheirDatesAndDurations) {
    // Four short recordings a minute apart, named as one camera numbers them.
    std::vector<std::string> recordings;
    for (int i = 0; i < 4; ++i) {
        recordings.push_back("MVI_032" + std::to_string(i + 1) + ".MP4");
        tessaline::testing::makeVideo(sandbox / recordings.back(),
                           {"-c:v", "libx264", "-metadata", "creation_time=2024-05-01T12:0" + std::to_string(i) + ":00Z"});
    }
    auto separate = groupFolder(recordings);
    ASSERT_EQ(separate.size(), 4u);
    for (const auto& g : separate) EXPECT_EQ(g.primaryFiles.size(), 1u) << g.description();

    // One 20-second recording cut in two, each piece dated where the one before ends: the
    // 10-second gap is wider than any slack and holds only through the pieces' durations.
    tessaline::testing::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-t", "20", "-c:v", "libx264", "-g", "25",
                     (sandbox / "recording.mp4").string()});
    tessaline::testing::ffmpeg({"-i", (sandbox / "recording.mp4").string(), "-t", "10", "-c", "copy", "-metadata",
                     "creation_time=2024-05-01T13:00:00Z", (sandbox / "CLIP_001.MOV").string()});
    tessaline::testing::ffmpeg({"-ss", "10", "-i", (sandbox / "recording.mp4").string(), "-c", "copy", "-metadata",
                     "creation_time=2024-05-01T13:00:10Z", (sandbox / "CLIP_002.MOV").string()});
    auto spanned = groupFolder({"CLIP_002.MOV", "CLIP_001.MOV"});
    ASSERT_EQ(spanned.size(), 1u);
    EXPECT_EQ(names(spanned.front()), (std::vector<std::string>{"CLIP_001.MOV", "CLIP_002.MOV"}));
    ASSERT_TRUE(spanned.front().primaryFiles.front().duration);
    EXPECT_GT(*spanned.front().primaryFiles.front().duration, 9.0);
}
