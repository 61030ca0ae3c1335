// The whole road of a scan on real files: a card folder and two drive folders of media made
// by ffmpeg and exiftool, some copied, one changed by a single byte, one missing; then scan,
// fingerprint, group, match, prove and report, and check every clip's verdict.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <map>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

void mustRun(std::vector<std::string> argv) {
    auto result = runCommand(argv);
    ASSERT_EQ(result.exitCode, 0) << argv[0] << ": " << result.output;
}

void makeJpeg(const fs::path& path, const std::string& exifDate, const std::string& pattern = "testsrc") {
    fs::create_directories(path.parent_path());
    mustRun({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", pattern + "=size=64x48", "-frames:v",
             "1", "-f", "image2", path.string()});
    mustRun({"exiftool", "-q", "-q", "-overwrite_original", "-Make=Canon", "-Model=Canon EOS R5",
             "-DateTimeOriginal=" + exifDate, path.string()});
}

void makeVideo(const fs::path& path, const std::string& creationTime, const std::string& pattern) {
    fs::create_directories(path.parent_path());
    mustRun({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", pattern + "=size=320x240:rate=25",
             "-t", "1", "-c:v", "libx264", "-metadata", "creation_time=" + creationTime, path.string()});
}

void copyTo(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::vector<Fingerprint> fingerprintsOf(const ScanResult& scan) {
    NativeMetadataReader reader;
    std::vector<Fingerprint> out;
    for (const MediaFile& file : scan.mediaFiles) out.push_back(reader.fingerprint(file.url));
    return out;
}

class ScanToReportTest : public SandboxedTest {};

}  // namespace

TEST_F(ScanToReportTest, EveryClipGetsTheVerdictItsBytesDeserve) {
    if (!haveProgram("ffmpeg") || !haveProgram("exiftool")) GTEST_SKIP() << "needs ffmpeg and exiftool; skipped";
    fs::path card = sandbox / "CARD";
    fs::path dcim = card / "DCIM/100CANON";
    fs::path drive1 = sandbox / "BACKUP_A";
    fs::path drive2 = sandbox / "BACKUP_B";

    makeJpeg(dcim / "IMG_0001.JPG", "2024:05:01 12:00:00");
    makeJpeg(dcim / "IMG_0002.JPG", "2024:05:01 12:00:10");
    makeJpeg(dcim / "IMG_0003.JPG", "2024:05:01 12:00:20");
    makeJpeg(dcim / "IMG_0005.JPG", "2024:05:01 12:02:00");
    writePatternFile(dcim / "IMG_0005.NEF", 5000, 3);  // no readable metadata: its file date counts
    struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(epochFromUtc(2024, 5, 1, 12, 2, 0)), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dcim / "IMG_0005.NEF").c_str(), times, 0), 0);
    makeJpeg(dcim / "IMG_0006.JPG", "2024:05:01 12:03:00");
    writeFile(dcim / "IMG_0001.XMP", "<x:xmpmeta/>");
    makeVideo(card / "PRIVATE/A001_C001.MOV", "2024-05-01T12:05:00Z", "testsrc");
    makeVideo(card / "PRIVATE/A002_C001.MOV", "2024-05-01T12:06:00Z", "testsrc2");
    makeVideo(card / "PRIVATE/B.MOV", "2024-05-01T12:07:00Z", "smptebars");

    copyTo(dcim / "IMG_0001.JPG", drive1 / "day1/IMG_0001.JPG");
    copyTo(dcim / "IMG_0005.JPG", drive1 / "day1/IMG_0005.JPG");
    copyTo(dcim / "IMG_0005.NEF", drive1 / "raw/IMG_0005.NEF");
    copyTo(dcim / "IMG_0006.JPG", drive1 / "day1/IMG_0006.JPG");
    copyTo(card / "PRIVATE/A001_C001.MOV", drive1 / "video/A001_C001.MOV");
    // One byte changed in the image data: the metadata still fits, the bytes do not.
    copyTo(dcim / "IMG_0002.JPG", drive2 / "IMG_0002.JPG");
    std::string bytes = readFile(drive2 / "IMG_0002.JPG");
    bytes[bytes.size() - 20] ^= 0x55;
    writeFile(drive2 / "IMG_0002.JPG", bytes);
    // Same name, other picture.
    makeJpeg(drive2 / "IMG_0003.JPG", "2023:01:01 08:00:00", "smptebars");
    copyTo(dcim / "IMG_0006.JPG", drive2 / "IMG_0006.JPG");
    copyTo(card / "PRIVATE/A002_C001.MOV", drive2 / "A002_C001.MOV");
    // B.MOV is on no drive.

    FolderScanner scanner;
    ScanResult cardScan = scanner.scan(card, false);
    std::vector<Fingerprint> cardFiles = fingerprintsOf(cardScan);
    std::vector<ClipGroup> groups = Grouper().group(cardFiles, cardScan.sidecarFiles);
    std::vector<Fingerprint> driveFiles;
    for (const fs::path& drive : {drive1, drive2}) {
        auto files = fingerprintsOf(scanner.scan(drive, false, card));
        driveFiles.insert(driveFiles.end(), files.begin(), files.end());
    }
    auto matched = Matcher().match(groups, driveFiles, card);
    std::vector<std::pair<int, int>> progress;
    auto proven = MatchVerifier(ChecksumEngine(), card).verify(matched, driveFiles, [] { return false; },
                                                               [&](int done, int total) { progress.emplace_back(done, total); });
    VerificationReport report(card, {drive1, drive2}, nowEpoch(), proven, std::nullopt, cardScan.unreadableFolders);

    std::map<std::string, MatchStatus> verdicts;
    for (const MatchResult& result : report.results) verdicts.emplace(result.primaryName(), result.status);
    ASSERT_EQ(verdicts.size(), 8u) << report.summary();
    EXPECT_EQ(verdicts.at("IMG_0001.JPG"), MatchStatus::confirmed(drive1 / "day1/IMG_0001.JPG"));
    EXPECT_EQ(verdicts.at("IMG_0002.JPG"), MatchStatus::missing());
    EXPECT_EQ(verdicts.at("IMG_0003.JPG"), MatchStatus::nameMatchMetadataMismatch(drive2 / "IMG_0003.JPG"));
    EXPECT_EQ(verdicts.at("IMG_0005.JPG"), MatchStatus::confirmed(drive1 / "day1/IMG_0005.JPG"));
    EXPECT_EQ(verdicts.at("IMG_0006.JPG"),
              MatchStatus::possibleDuplicate({drive1 / "day1/IMG_0006.JPG", drive2 / "IMG_0006.JPG"}));
    EXPECT_EQ(verdicts.at("A001_C001.MOV"), MatchStatus::confirmed(drive1 / "video/A001_C001.MOV"));
    EXPECT_EQ(verdicts.at("A002_C001.MOV"), MatchStatus::confirmed(drive2 / "A002_C001.MOV"));
    EXPECT_EQ(verdicts.at("B.MOV"), MatchStatus::missing());

    for (const MatchResult& result : report.results) {
        if (result.primaryName() == "IMG_0005.JPG") {
            EXPECT_EQ(result.group.kind, ClipGroup::Kind::rawJpegPair);
        }
        if (result.primaryName() == "IMG_0001.JPG") {
            EXPECT_EQ(result.group.sidecars, std::vector<fs::path>{dcim / "IMG_0001.XMP"});
        }
    }
    EXPECT_EQ(progress.front(), (std::pair<int, int>{0, 6}));
    EXPECT_EQ(progress.back(), (std::pair<int, int>{6, 6}));
    EXPECT_EQ(report.eraseStanding(),
              (VerificationReport::EraseStanding{VerificationReport::EraseStanding::Kind::hasMissing, 2, 8}));

    // The same card scanned as its own "drive" proves nothing.
    auto selfMatched = Matcher().match(groups, cardFiles);
    auto selfProven = MatchVerifier(ChecksumEngine(), card).verify(selfMatched, cardFiles, [] { return false; });
    for (const MatchResult& result : selfProven) EXPECT_TRUE(result.isMissing()) << result.description();

    ReportExporter::write(report, sandbox / "out", "report");
    std::string text = pdfText(sandbox / "out/report.pdf");
    for (const auto& [name, status] : verdicts) EXPECT_NE(text.find(name), std::string::npos) << name;
    EXPECT_NE(readFile(sandbox / "out/report.csv").find("MISSING,B.MOV,2024-05-01T12:07:00Z,"), std::string::npos);
}

// Four recordings a minute apart, named in one camera's sequence, one of them never backed up:
// each is a clip of its own with its own verdict, so only that one is missing.
TEST_F(ScanToReportTest, SeparateRecordingsInOneNameSequenceKeepTheirOwnVerdicts) {
    if (!haveProgram("ffmpeg")) GTEST_SKIP() << "needs ffmpeg; skipped";
    const fs::path card = sandbox / "CARD", drive = sandbox / "BACKUP";
    const std::vector<std::string> patterns{"testsrc", "testsrc2", "smptebars", "rgbtestsrc"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "MVI_032" + std::to_string(i + 1) + ".MP4";
        makeVideo(card / "DCIM/100CANON" / name, "2024-05-01T12:0" + std::to_string(i) + ":00Z", patterns[i]);
        if (i != 2) copyTo(card / "DCIM/100CANON" / name, drive / "Day1" / name);
    }

    FolderScanner scanner;
    ScanResult cardScan = scanner.scan(card, false);
    std::vector<ClipGroup> groups = Grouper().group(fingerprintsOf(cardScan), cardScan.sidecarFiles);
    std::vector<Fingerprint> driveFiles = fingerprintsOf(scanner.scan(drive, false, card));
    auto proven = MatchVerifier(ChecksumEngine(), card)
                      .verify(Matcher().match(groups, driveFiles, card), driveFiles, [] { return false; });
    VerificationReport report(card, {drive}, nowEpoch(), proven);

    ASSERT_EQ(report.results.size(), 4u) << report.summary();
    for (const MatchResult& result : report.results) {
        EXPECT_EQ(result.group.primaryFiles.size(), 1u) << result.description();
        const bool missing = result.primaryName() == "MVI_0323.MP4";
        EXPECT_EQ(result.isMissing(), missing) << result.description();
    }
    EXPECT_EQ(report.eraseStanding(),
              (VerificationReport::EraseStanding{VerificationReport::EraseStanding::Kind::hasMissing, 1, 4}));
}
