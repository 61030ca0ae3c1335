#include "Support/TestSandbox.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace tessaline;
using namespace tessaline::testing;
using Kind = VerificationReport::Line::Kind;
using Standing = VerificationReport::EraseStanding;

namespace {

const EpochSeconds generated = epochFromUtc(2025, 6, 1, 9, 30, 0);
const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);
// A given identity keeps the report from reading the volume of these made-up paths.
const VolumeIdentity someCard{.uuid = "2A9C-A474", .name = "EOS_DIGITAL"};

Fingerprint media(const std::string& path, int64_t size, std::optional<EpochSeconds> cameraDate = std::nullopt) {
    Fingerprint fp{.url = path, .byteSize = size, .captureDate = cameraDate};
    fp.hasCameraTimestamp = cameraDate.has_value();
    fp.timestampSource = cameraDate ? TimestampSource::exifOriginal : TimestampSource::none;
    return fp;
}

MatchResult result(std::vector<Fingerprint> files, MatchStatus status) {
    return {ClipGroup{std::move(files), {}, ClipGroup::Kind::still}, std::move(status)};
}

VerificationReport reportOf(std::vector<MatchResult> results, std::vector<std::filesystem::path> drives = {"/media/BACKUP_A"},
                            std::vector<std::filesystem::path> unreadable = {}) {
    return VerificationReport("/media/CARD", std::move(drives), generated, std::move(results), someCard, std::move(unreadable));
}

// One clip of each kind, with names that exercise the CSV quoting.
VerificationReport mixedReport() {
    return reportOf(
        {
            result({media("/media/CARD/DCIM/A001.MOV", 1'234'567, noon - 7200)}, MatchStatus::confirmed("/media/BACKUP_A/A001.MOV")),
            result({media("/media/CARD/DCIM/IMG_0001.CR3", 12'000'000, noon), media("/media/CARD/DCIM/IMG_0001.JPG", 3'456'789, noon)},
                   MatchStatus::missing()),
            result({media("/media/CARD/DCIM/b.mov", 500, noon - 3600)},
                   MatchStatus::possibleDuplicate({"/media/BACKUP_A/b.mov", "/media/BACKUP_B/b.mov"})),
            result({media("/media/CARD/DCIM/-minus,comma.mov", 1000)},
                   MatchStatus::nameMatchMetadataMismatch("/media/BACKUP_B/-minus,comma.mp4")),
            result({media("/media/CARD/DCIM/Z\"quote.mov", 1'550'000)}, MatchStatus::missing()),
        },
        {"/media/BACKUP_A", "/media/BACKUP_B"});
}

const std::string rule =
    "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
    "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500";

}  // namespace

TEST(VerificationReportTest, TextIsByteExact) {
    auto report = mixedReport();
    EXPECT_EQ(report.eraseStanding(), (Standing{Standing::Kind::hasMissing, 2, 5}));
    EXPECT_FALSE(report.isSafeToErase());
    std::string expected =
        "Brindlecove \u2014 Card Verification Report\n"
        "Generated : 2025-06-01T09:30:00Z\n"
        "Card      : /media/CARD\n"
        "Drive 1   : /media/BACKUP_A\n"
        "Drive 2   : /media/BACKUP_B\n"
        "\n" +
        rule + "\n" +
        "\u26A0  2 of 5 clips are NOT on your drives yet \u2014 marked \u2717 below. Not safe to erase.\n"
        "\n"
        "Files (A\u2013Z) \u2014 \u2713 synced \u00B7 \u2717 still only on the card\n"
        "\n"
        "  \u2248 check     -minus,comma.mov  name matches -minus,comma.mp4 but contents differ\n"
        "  \u2713 synced    A001.MOV  \u2192  /media/BACKUP_A/A001.MOV\n"
        "  \u2713 synced \u00D72  b.mov  (multiple backup copies)\n"
        "  \u2717 MISSING   IMG_0001.CR3  2024-05-01T12:00:00Z  15.5 MB\n"
        "             + IMG_0001.JPG\n"
        "  \u2717 MISSING   Z\"quote.mov  no date  1.6 MB\n"
        "\n" +
        rule + "\n" +
        "Confirmed     : 1\n"
        "Missing       : 2\n"
        "Duplicates    : 1\n"
        "Name-mismatch : 1";
    EXPECT_EQ(report.summary(), expected);

    std::vector<Kind> kinds;
    for (const auto& line : report.summaryLines()) kinds.push_back(line.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::plain, Kind::plain, Kind::plain, Kind::plain, Kind::plain, Kind::plain,
                                        Kind::plain, Kind::bad, Kind::plain, Kind::plain, Kind::plain, Kind::warn, Kind::good,
                                        Kind::info, Kind::bad, Kind::bad, Kind::bad, Kind::plain, Kind::plain, Kind::plain,
                                        Kind::plain, Kind::plain, Kind::plain}));
}

TEST(VerificationReportTest, CsvIsByteExact) {
    EXPECT_EQ(ReportExporter::csv(mixedReport()),
              "status,filename,capture_date,size_bytes,drive_path\n"
              "name-mismatch,\"'-minus,comma.mov\",,1000,\"/media/BACKUP_B/-minus,comma.mp4\"\n"
              "confirmed,A001.MOV,2024-05-01T10:00:00Z,1234567,/media/BACKUP_A/A001.MOV\n"
              "duplicate,b.mov,2024-05-01T11:00:00Z,500,/media/BACKUP_A/b.mov|/media/BACKUP_B/b.mov\n"
              "MISSING,IMG_0001.CR3,2024-05-01T12:00:00Z,15456789,\n"
              "member MISSING,IMG_0001.CR3,2024-05-01T12:00:00Z,12000000,\n"
              "member MISSING,IMG_0001.JPG,2024-05-01T12:00:00Z,3456789,\n"
              "MISSING,\"Z\"\"quote.mov\",,1550000,\n");
}

TEST(VerificationReportTest, JsonIsByteExact) {
    EXPECT_EQ(ReportExporter::json(mixedReport()), R"({
  "card_path": "/media/CARD",
  "clips": [
    {
      "candidate_path": "/media/BACKUP_B/-minus,comma.mp4",
      "files": [
        "-minus,comma.mov"
      ],
      "size_bytes": 1000,
      "status": "name_mismatch"
    },
    {
      "capture_date": "2024-05-01T10:00:00Z",
      "drive_path": "/media/BACKUP_A/A001.MOV",
      "files": [
        "A001.MOV"
      ],
      "size_bytes": 1234567,
      "status": "confirmed"
    },
    {
      "capture_date": "2024-05-01T11:00:00Z",
      "drive_paths": [
        "/media/BACKUP_A/b.mov",
        "/media/BACKUP_B/b.mov"
      ],
      "files": [
        "b.mov"
      ],
      "size_bytes": 500,
      "status": "duplicate"
    },
    {
      "capture_date": "2024-05-01T12:00:00Z",
      "files": [
        "IMG_0001.CR3",
        "IMG_0001.JPG"
      ],
      "proven_files": [],
      "size_bytes": 15456789,
      "status": "missing",
      "unproven_files": [
        "IMG_0001.CR3",
        "IMG_0001.JPG"
      ]
    },
    {
      "files": [
        "Z\"quote.mov"
      ],
      "size_bytes": 1550000,
      "status": "missing"
    }
  ],
  "drive_paths": [
    "/media/BACKUP_A",
    "/media/BACKUP_B"
  ],
  "generated_at": "2025-06-01T09:30:00Z",
  "summary": {
    "confirmed": 1,
    "duplicates": 1,
    "missing": 2,
    "name_mismatch": 1,
    "total": 5
  }
})");
}

TEST(VerificationReportTest, EmptyReport) {
    auto report = reportOf({}, {});
    EXPECT_EQ(report.eraseStanding().kind, Standing::Kind::noMedia);
    auto lines = report.summaryLines();
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[5], (VerificationReport::Line{"\u26A0  No media found on the card.", Kind::warn}));
    EXPECT_EQ(lines[11].text, "Confirmed     : 0");
    EXPECT_EQ(ReportExporter::csv(report), "status,filename,capture_date,size_bytes,drive_path\n");
    std::string json = ReportExporter::json(report);
    EXPECT_NE(json.find("\"clips\": []"), std::string::npos) << json;
    EXPECT_NE(json.find("\"total\": 0"), std::string::npos);
    EXPECT_EQ(json.find("unreadable_folders"), std::string::npos);
}

TEST(VerificationReportTest, EraseStandingPrecedence) {
    auto confirmed = result({media("/c/a.mov", 1)}, MatchStatus::confirmed("/d/a.mov"));
    auto duplicate = result({media("/c/b.mov", 1)}, MatchStatus::possibleDuplicate({"/d/b.mov", "/e/b.mov"}));
    auto mismatch = result({media("/c/c.mov", 1)}, MatchStatus::nameMatchMetadataMismatch("/d/c.mov"));
    auto missing = result({media("/c/d.mov", 1)}, MatchStatus::missing());

    auto safe = reportOf({confirmed, duplicate});
    EXPECT_EQ(safe.eraseStanding(), (Standing{Standing::Kind::safe, 2, 2}));
    EXPECT_TRUE(safe.isSafeToErase());
    EXPECT_EQ(safe.summaryLines()[6],
              (VerificationReport::Line{"\u2713  All 2 clips confirmed on drives. Nothing left on card \u2014 safe to erase.",
                                        Kind::good}));

    auto both = reportOf({missing, mismatch});
    EXPECT_EQ(both.eraseStanding(), (Standing{Standing::Kind::hasMissing, 1, 2}));
    EXPECT_EQ(both.summaryLines()[6].kind, Kind::bad);

    auto checkIt = reportOf({confirmed, mismatch});
    EXPECT_EQ(checkIt.eraseStanding(), (Standing{Standing::Kind::hasContentMismatch, 1, 2}));
    EXPECT_EQ(checkIt.summaryLines()[6],
              (VerificationReport::Line{"\u26A0  1 of 2 clips has a same-named but DIFFERENT file on the drive \u2014 check "
                                        "them. Not safe to erase.",
                                        Kind::warn}));
}

TEST(VerificationReportTest, UnreadCardFoldersAreNeverSafe) {
    auto confirmed = result({media("/c/a.mov", 1)}, MatchStatus::confirmed("/d/a.mov"));
    auto report = reportOf({confirmed}, {"/d"}, {"/media/CARD/DCIM/101", "/media/CARD/PRIVATE"});
    EXPECT_EQ(report.eraseStanding(), (Standing{Standing::Kind::cardNotFullyRead, 2, 1}));
    EXPECT_FALSE(report.isSafeToErase());
    auto lines = report.summaryLines();
    EXPECT_EQ(lines[6], (VerificationReport::Line{"\u26A0  The card was not fully read \u2014 2 folders could not be read. "
                                                  "Not safe to erase.",
                                                  Kind::bad}));
    EXPECT_EQ(lines[7], (VerificationReport::Line{"  \u2717 UNREADABLE  /media/CARD/DCIM/101", Kind::bad, 18}));
    EXPECT_EQ(lines[8], (VerificationReport::Line{"  \u2717 UNREADABLE  /media/CARD/PRIVATE", Kind::bad, 18}));
    EXPECT_NE(ReportExporter::json(report).find("\"unreadable_folders\": [\n    \"/media/CARD/DCIM/101\","), std::string::npos);

    // An empty card that could not be read fully is not "no media" either.
    EXPECT_EQ(reportOf({}, {}, {"/media/CARD/x"}).eraseStanding().kind, Standing::Kind::cardNotFullyRead);
    // Missing clips still speak first.
    auto missing = result({media("/c/d.mov", 1)}, MatchStatus::missing());
    EXPECT_EQ(reportOf({missing}, {}, {"/media/CARD/x"}).eraseStanding().kind, Standing::Kind::hasMissing);
}

TEST(VerificationReportTest, DriveLabelsAndSizes) {
    std::vector<std::filesystem::path> drives;
    for (int i = 1; i <= 10; ++i) drives.push_back("/d" + std::to_string(i));
    auto zero = result({media("/c/empty.mov", 0)}, MatchStatus::missing());
    auto lines = reportOf({zero}, drives).summaryLines();
    EXPECT_EQ(lines[3].text, "Drive 1   : /d1");
    EXPECT_EQ(lines[12].text, "Drive 10   : /d10");
    bool found = false;
    for (const auto& line : lines) found = found || line.text == "  \u2717 MISSING   empty.mov  no date  Zero KB";
    EXPECT_TRUE(found);
}

TEST(VerificationReportTest, NamesThatAreNotTextNeverBreakTheForms) {
    auto bad = result({media("/media/CARD/clip\xff.mov", 10, noon)}, MatchStatus::confirmed("/media/D/clip\xff.mov"));
    auto report = reportOf({bad}, {"/media/D\xfe"});
    std::string text = report.summary();
    EXPECT_NE(text.find("clip\xEF\xBF\xBD.mov  \u2192  /media/D/clip\xEF\xBF\xBD.mov"), std::string::npos);
    EXPECT_NE(ReportExporter::csv(report).find("confirmed,clip\xEF\xBF\xBD.mov,"), std::string::npos);
    std::string json;
    ASSERT_NO_THROW(json = ReportExporter::json(report));
    EXPECT_NE(json.find("\"/media/D\xEF\xBF\xBD\""), std::string::npos);
    ASSERT_NO_THROW(ReportExporter::pdf(report));
}

TEST(VerificationReportTest, ANameWithALineBreakCannotWriteALineOfItsOwn) {
    // Card file names may hold any byte but "/": a line break in one must not make a line
    // that reads like a verdict or a proof.
    const std::string forged = "\n  \u2713 synced    C0002.MP4  \u2192  /media/D/C0002.MP4\r";
    auto clip = result({media("/media/CARD/clip" + forged + ".mov", 10, noon)}, MatchStatus::missing());
    VerificationReport report("/media/CARD", {"/media/D"}, generated, {clip}, someCard, {},
                              {OtherFile{"/media/CARD/notes" + forged + ".txt", 5, OtherFile::Role::other, std::nullopt}});
    const auto lines = report.summaryLines();
    for (const auto& line : lines)
        for (const char c : line.text) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << line.text;
    const std::string text = report.summary();
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1, lines.size());
    EXPECT_NE(text.find("notes\xEF\xBF\xBD  \u2713 synced    C0002.MP4"), std::string::npos) << text;
    EXPECT_EQ(text.find("\n  \u2713 synced"), std::string::npos) << text;
}

class ReportExporterTest : public SandboxedTest {};

TEST_F(ReportExporterTest, WritesThreeFormsSideBySide) {
    auto report = mixedReport();
    auto folder = sandbox / "Logs/2025-06-01/verify-093000";
    ReportExporter::write(report, folder, "report");
    EXPECT_EQ(readFile(folder / "report.csv"), ReportExporter::csv(report));
    EXPECT_EQ(readFile(folder / "report.json"), ReportExporter::json(report));
    EXPECT_EQ(pdfInfo(folder / "report.pdf").pages, 1);
    // An existing folder is fine, and the files are replaced whole.
    ReportExporter::write(reportOf({}), folder, "report");
    EXPECT_EQ(readFile(folder / "report.csv"), "status,filename,capture_date,size_bytes,drive_path\n");
}

TEST_F(ReportExporterTest, AFileInTheWayOfTheFolderIsAnError) {
    writeFile(sandbox / "taken", "x");
    EXPECT_THROW(ReportExporter::write(mixedReport(), sandbox / "taken" / "sub", "report"), FileWriteError);
}

namespace {

VerificationReport reportWithOtherFiles(bool allProven) {
    auto confirmed = result({media("/media/CARD/PRIVATE/M4ROOT/CLIP/C0001.MP4", 1'000, noon)},
                            MatchStatus::confirmed("/media/BACKUP_A/C0001.MP4"));
    std::vector<OtherFile> others{
        {"/media/CARD/NOTES.TXT", 120, OtherFile::Role::other,
         allProven ? std::optional<std::filesystem::path>("/media/BACKUP_A/NOTES.TXT") : std::nullopt},
        {"/media/CARD/PRIVATE/AVCHD/BDMV/INDEX.BDM", 2'500'000, OtherFile::Role::other,
         allProven ? std::optional<std::filesystem::path>("/media/BACKUP_A/INDEX.BDM") : std::nullopt},
        {"/media/CARD/PRIVATE/M4ROOT/CLIP/C0001M01.XML", 900, OtherFile::Role::sidecar,
         std::filesystem::path("/media/BACKUP_A/C0001M01.XML")},
    };
    return VerificationReport("/media/CARD", {"/media/BACKUP_A"}, generated, {confirmed}, someCard, {},
                              std::move(others));
}

}  // namespace

TEST(VerificationReportTest, OtherFilesOnlyOnTheCardAreNeverSafe) {
    auto report = reportWithOtherFiles(false);
    EXPECT_EQ(report.eraseStanding(), (Standing{Standing::Kind::otherFilesOnlyOnCard, 2, 1}));
    EXPECT_FALSE(report.isSafeToErase());
    EXPECT_EQ(report.otherFilesConfirmedCount(), 1);
    auto lines = report.summaryLines();
    EXPECT_EQ(lines[6], (VerificationReport::Line{"\u26A0  The 1 clip confirmed on drives, but 2 other files are only on "
                                                  "the card \u2014 marked \u2717 below. Not safe to erase.",
                                                  Kind::bad}));
    // The clip lines stay as they are; the other files follow in a section of their own,
    // named by their place on the card, and get a count line after the four of the clips.
    const std::vector<VerificationReport::Line> tail(lines.end() - 14, lines.end());
    EXPECT_EQ(tail, (std::vector<VerificationReport::Line>{
                        {"  \u2713 synced    C0001.MP4  \u2192  /media/BACKUP_A/C0001.MP4", Kind::good, 16},
                        {"", Kind::plain},
                        {"Other files (not clips) \u2014 \u2713 synced \u00B7 \u2717 only on the card", Kind::plain},
                        {"", Kind::plain},
                        {"  \u2717 ONLY CARD NOTES.TXT  120 bytes", Kind::bad, 16},
                        {"  \u2717 ONLY CARD PRIVATE/AVCHD/BDMV/INDEX.BDM  2.5 MB", Kind::bad, 16},
                        {"  \u2713 synced    PRIVATE/M4ROOT/CLIP/C0001M01.XML  \u2192  /media/BACKUP_A/C0001M01.XML",
                         Kind::good, 16},
                        {"", Kind::plain},
                        {rule, Kind::plain},
                        {"Confirmed     : 1", Kind::plain},
                        {"Missing       : 0", Kind::plain},
                        {"Duplicates    : 0", Kind::plain},
                        {"Name-mismatch : 0", Kind::plain},
                        {"Other files   : 1 confirmed \u00B7 2 only on the card", Kind::plain},
                    }));

    // The CSV keeps its header and clip rows and adds one row per other file.
    EXPECT_EQ(ReportExporter::csv(report),
              "status,filename,capture_date,size_bytes,drive_path\n"
              "confirmed,C0001.MP4,2024-05-01T12:00:00Z,1000,/media/BACKUP_A/C0001.MP4\n"
              "other file MISSING,NOTES.TXT,,120,\n"
              "other file MISSING,PRIVATE/AVCHD/BDMV/INDEX.BDM,,2500000,\n"
              "other file confirmed,PRIVATE/M4ROOT/CLIP/C0001M01.XML,,900,/media/BACKUP_A/C0001M01.XML\n");

    // The JSON keeps every key and adds the other files and their counts.
    auto json = nlohmann::json::parse(ReportExporter::json(report));
    EXPECT_EQ(json["summary"]["total"], 1);
    EXPECT_EQ(json["summary"]["confirmed"], 1);
    EXPECT_EQ(json["summary"]["other_files_confirmed"], 1);
    EXPECT_EQ(json["summary"]["other_files_missing"], 2);
    ASSERT_EQ(json["other_files"].size(), 3u);
    EXPECT_EQ(json["other_files"][1], (nlohmann::json{{"status", "missing"},
                                                      {"kind", "other"},
                                                      {"file", "INDEX.BDM"},
                                                      {"card_path", "PRIVATE/AVCHD/BDMV/INDEX.BDM"},
                                                      {"size_bytes", 2500000}}));
    EXPECT_EQ(json["other_files"][2]["kind"], "sidecar");
    EXPECT_EQ(json["other_files"][2]["drive_path"], "/media/BACKUP_A/C0001M01.XML");

    // Missing clips still speak first, and the other files are named below the verdict.
    auto missing = VerificationReport("/media/CARD", {}, generated, {result({media("/media/CARD/A.MOV", 5)},
                                                                            MatchStatus::missing())},
                                      someCard, {}, report.otherFiles);
    EXPECT_EQ(missing.eraseStanding().kind, Standing::Kind::hasMissing);
    EXPECT_EQ(missing.summaryLines()[6],  // no drive lines in this one
              (VerificationReport::Line{"\u26A0  2 other files are only on the card too \u2014 marked \u2717 below.",
                                        Kind::bad}));

    // Proven everywhere: safe, with every file confirmed.
    auto proven = reportWithOtherFiles(true);
    EXPECT_EQ(proven.eraseStanding(), (Standing{Standing::Kind::safe, 1, 1}));
    EXPECT_EQ(proven.summaryLines().back().text, "Other files   : 3 confirmed \u00B7 0 only on the card");
}

TEST(VerificationReportTest, AReportWithoutOtherFilesKeepsItsFormsUnchanged) {
    auto report = mixedReport();
    EXPECT_EQ(ReportExporter::json(report).find("other_files"), std::string::npos);
    EXPECT_EQ(report.summaryLines().back().text, "Name-mismatch : 1");
}

TEST_F(ReportExporterTest, ThePdfNamesTheOtherFiles) {
    auto report = reportWithOtherFiles(false);
    auto folder = sandbox / "out";
    ReportExporter::write(report, folder, "report");
    const std::string text = pdfText(folder / "report.pdf");
    EXPECT_NE(text.find("ONLY CARD PRIVATE/AVCHD/BDMV/INDEX.BDM"), std::string::npos) << text;
    EXPECT_NE(text.find("Other files"), std::string::npos);
    EXPECT_EQ(readFile(folder / "report.csv"), ReportExporter::csv(report));
}
