#include "Support/TestSandbox.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <gtest/gtest.h>

#include <fstream>

using namespace tessaline;
using namespace tessaline::testing;

namespace {

const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);

MatchResult clip(const std::string& name, MatchStatus status, int64_t size = 2'000'000) {
    Fingerprint fp{.url = "/media/CARD/DCIM/" + name, .byteSize = size, .captureDate = noon, .hasCameraTimestamp = true,
                   .timestampSource = TimestampSource::exifOriginal};
    return {ClipGroup{{fp}, {}, ClipGroup::Kind::video}, std::move(status)};
}

VerificationReport reportOf(std::vector<MatchResult> results) {
    return VerificationReport("/media/CARD", {"/media/BACKUP"}, epochFromUtc(2025, 6, 1, 9, 30, 0), std::move(results),
                              VolumeIdentity{.name = "CARD"});
}

// Pixel colours of page 1, rendered at 100 dpi.
struct Raster {
    int width = 0, height = 0;
    std::string rgb;
    int count(int r, int g, int b, int slack = 10) const {
        int n = 0;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            auto near = [slack](unsigned char v, int want) { return std::abs(int(v) - want) <= slack; };
            if (near(rgb[i], r) && near(rgb[i + 1], g) && near(rgb[i + 2], b)) ++n;
        }
        return n;
    }
};

class ReportPdfTest : public SandboxedTest {
protected:
    std::filesystem::path save(const VerificationReport& report) {
        auto path = sandbox / "report.pdf";
        writeFileAtomically(path, ReportExporter::pdf(report));
        return path;
    }
    Raster render(const std::filesystem::path& pdf) {
        auto prefix = sandbox / "page";
        auto r = runCommand({"pdftoppm", "-r", "100", "-f", "1", "-l", "1", "-singlefile", pdf.string(), prefix.string()});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        std::ifstream in(prefix.string() + ".ppm", std::ios::binary);
        std::string magic;
        int max = 0;
        Raster raster;
        in >> magic >> raster.width >> raster.height >> max;
        in.get();
        raster.rgb.assign(std::istreambuf_iterator<char>(in), {});
        return raster;
    }
};

}  // namespace

TEST_F(ReportPdfTest, EveryLineOfTheTextReportIsOnOnePage) {
    auto report = reportOf({clip("A001.MOV", MatchStatus::confirmed("/media/BACKUP/A001.MOV")),
                            clip("B002.MOV", MatchStatus::missing()),
                            clip("C003.MOV", MatchStatus::possibleDuplicate({"/x/C003.MOV", "/y/C003.MOV"}))});
    auto path = save(report);
    PdfInfo info = pdfInfo(path);
    EXPECT_EQ(info.pages, 1);
    EXPECT_DOUBLE_EQ(info.width, 612);
    EXPECT_DOUBLE_EQ(info.height, 792);
    std::string text = pdfText(path);
    for (const auto& line : report.summaryLines()) {
        // pdftotext may widen runs of blanks; compare the words.
        std::string trimmed = trimmedWhitespace(line.text);
        if (trimmed.empty() || trimmed.find("  ") != std::string::npos) continue;
        EXPECT_NE(text.find(trimmed), std::string::npos) << trimmed;
    }
    EXPECT_NE(text.find("B002.MOV"), std::string::npos);
    EXPECT_NE(text.find("2024-05-01T12:00:00Z"), std::string::npos);
    EXPECT_NE(text.find("/media/BACKUP/A001.MOV"), std::string::npos);
}

TEST_F(ReportPdfTest, LongReportsRunOntoFurtherPagesWithoutLosingAClip) {
    std::vector<MatchResult> results;
    for (int i = 0; i < 300; ++i)
        results.push_back(clip("CLIP" + std::to_string(10000 + i) + ".MOV", MatchStatus::confirmed("/media/BACKUP/x.MOV")));
    auto path = save(reportOf(results));
    // 300 clip lines plus 17 others at 66 lines a page.
    EXPECT_EQ(pdfInfo(path).pages, 5);
    std::string text = pdfText(path);
    for (int i = 0; i < 300; ++i) {
        std::string name = "CLIP" + std::to_string(10000 + i) + ".MOV";
        size_t at = text.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_EQ(text.find(name, at + 1), std::string::npos) << name << " drawn twice";
    }
}

TEST_F(ReportPdfTest, LinesAreColouredByKind) {
    // Safe card: a green verdict and green clip lines, nothing red or amber.
    auto safe = render(save(reportOf({clip("A.MOV", MatchStatus::confirmed("/b/A.MOV"))})));
    EXPECT_GT(safe.count(0, 115, 26), 20);  // 0.0, 0.45, 0.1
    EXPECT_EQ(safe.count(199, 0, 0), 0);    // 0.78, 0, 0
    // Missing clip: a red verdict and a red clip line; a duplicate line blue.
    auto bad = render(save(reportOf({clip("A.MOV", MatchStatus::missing()),
                                     clip("B.MOV", MatchStatus::possibleDuplicate({"/b/1", "/b/2"}))})));
    EXPECT_GT(bad.count(199, 0, 0), 20);
    EXPECT_GT(bad.count(26, 77, 166), 10);  // 0.1, 0.3, 0.65
    EXPECT_EQ(bad.count(0, 115, 26), 0);
    // Name mismatch: amber.
    auto warn = render(save(reportOf({clip("A.MOV", MatchStatus::nameMatchMetadataMismatch("/b/A.MP4"))})));
    EXPECT_GT(warn.count(191, 115, 0), 20);  // 0.75, 0.45, 0
}

TEST_F(ReportPdfTest, LongDrivePathsWrapInsideTheMargins) {
    std::string longPath = "/media/BACKUP";
    for (int i = 0; i < 20; ++i) longPath += "/very-long-folder-name-" + std::to_string(i);
    auto report = reportOf({clip("A.MOV", MatchStatus::confirmed(longPath + "/A.MOV"))});
    auto path = save(report);
    std::string text = pdfText(path);
    std::string joined;
    for (char c : text)
        if (c != '\n' && c != ' ' && c != '\f') joined.push_back(c);
    EXPECT_NE(joined.find(longPath + "/A.MOV"), std::string::npos) << text;
    // Nothing is drawn to the right of the 48-point margin: pdftotext -bbox gives word boxes.
    auto r = runCommand({"pdftotext", "-q", "-bbox", path.string(), (sandbox / "boxes.html").string()});
    ASSERT_EQ(r.exitCode, 0);
    std::string boxes = readFile(sandbox / "boxes.html");
    size_t at = 0;
    int words = 0;
    while ((at = boxes.find("xMax=\"", at)) != std::string::npos) {
        at += 6;
        double xMax = std::stod(boxes.substr(at));
        EXPECT_LE(xMax, 612 - 48 + 0.5);
        ++words;
    }
    EXPECT_GT(words, 10);
}

TEST_F(ReportPdfTest, LineAndParagraphSeparatorsInANameNeverStartALineOfTheirOwn) {
    // Pango breaks lines at U+2028 and U+2029 as at a newline; U+0085 is a line break to others.
    const std::string forged = "A001\u2028\u2713 ALL CLIPS ON DRIVE\u2029B\u0085C.MXF";
    auto report = reportOf({clip(forged, MatchStatus::missing())});
    const std::string text = pdfText(save(report));
    size_t lines = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.find("ALL CLIPS ON DRIVE") != std::string::npos) {
            ++lines;
            EXPECT_NE(line.find("MISSING"), std::string::npos) << line;
            EXPECT_NE(line.find("A001\uFFFD\u2713 ALL CLIPS ON DRIVE\uFFFDB\uFFFDC.MXF"), std::string::npos) << line;
        }
        start = end + 1;
    }
    EXPECT_EQ(lines, 1u) << text;
    // What other programs read back keeps the name as it is.
    EXPECT_NE(ReportExporter::csv(report).find(forged), std::string::npos);
    EXPECT_NE(ReportExporter::json(report).find(forged), std::string::npos);
}

namespace {

// Names that, shown raw, would make a report line say what is not so: the tail of a long
// name posing as a synced row once the line wraps, and a right-to-left override turning
// "A001" + "FXM.200A" into a line that reads A002.MXF.
const std::string posingAsARow = std::string(82, 'A') + " \u00A0\u00A0\u2713 synced    B002.MXF  \u2192  "
                                 "\u2215media\u2215user\u2215DRIVE\u2215DCIM\u2215B002.MXF";
const std::string reversed = "DCIM/A001\u202EFXM.200A";

VerificationReport reportWithHostileNames() {
    std::vector<OtherFile> others = {
        {"/media/CARD/" + posingAsARow, 1'000, OtherFile::Role::other, std::nullopt},
        {"/media/CARD/" + reversed, 2'100'000, OtherFile::Role::other, std::nullopt},
    };
    return VerificationReport("/media/CARD", {"/media/BACKUP"}, epochFromUtc(2025, 6, 1, 9, 30, 0),
                              {clip("C0001.MP4", MatchStatus::confirmed("/media/BACKUP/C0001.MP4")),
                               clip(posingAsARow, MatchStatus::missing())},
                              VolumeIdentity{.name = "CARD"}, {}, std::move(others));
}

size_t leadingBlanks(const std::string& line) {
    size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? 0 : first;
}

// The line without its leading blanks and with every run of blanks made one (pdftotext's
// layout mode widens or narrows them).
std::string squeezed(const std::string& line) {
    std::string out;
    for (char c : line.substr(leadingBlanks(line)))
        if (c != ' ' || (!out.empty() && out.back() != ' ')) out.push_back(c);
    return out;
}

}  // namespace

TEST_F(ReportPdfTest, NamesNeverMakeALineReadAsARowOfItsOwn) {
    const VerificationReport report = reportWithHostileNames();
    const auto path = save(report);
    const std::string text = pdfText(path);

    // The real rows, as they begin at the row margin.
    const std::vector<std::string> rows = {"\u2713 synced C0001.MP4", "\u2717 MISSING AAAA", "\u2717 ONLY CARD AAAA",
                                           "\u2717 ONLY CARD DCIM/A001"};
    size_t margin = std::string::npos;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        if (squeezed(line).rfind(rows[0], 0) == 0) margin = leadingBlanks(line);
        start = end + 1;
    }
    ASSERT_NE(margin, std::string::npos) << text;

    // A line that starts at or left of the row margin with a status word is one of the rows;
    // the tails of the wrapped names start further right.
    size_t rowsSeen = 0, tails = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::string words = squeezed(line);
        bool statusFirst = false;
        for (const char* word : {"\u2713", "\u2717", "\u2248", "synced", "MISSING", "ONLY CARD", "check"})
            statusFirst = statusFirst || words.rfind(word, 0) == 0;
        if (line.find("B002.MXF") != std::string::npos) {
            ++tails;
            EXPECT_GE(leadingBlanks(line), margin + 10) << line;
        }
        if (!statusFirst || leadingBlanks(line) > margin + 1) continue;
        bool isRow = false;
        for (const std::string& row : rows) isRow = isRow || words.rfind(row, 0) == 0;
        EXPECT_TRUE(isRow) << "reads as a row: " << line;
        rowsSeen += isRow;
    }
    EXPECT_EQ(rowsSeen, rows.size()) << text;
    EXPECT_EQ(tails, 2u) << text;

    // The override is shown as U+FFFD and takes nothing with it.
    EXPECT_EQ(text.find("A002.MXF"), std::string::npos) << text;
    EXPECT_NE(text.find("DCIM/A001\uFFFDFXM.200A"), std::string::npos) << text;

    // What other programs read keeps every name exactly.
    for (const std::string& exported : {ReportExporter::csv(report), ReportExporter::json(report)}) {
        EXPECT_NE(exported.find(posingAsARow), std::string::npos);
        EXPECT_NE(exported.find(reversed), std::string::npos);
    }
}

TEST_F(ReportPdfTest, AWrappedNameContinuesUnderItsOwnStart) {
    const std::vector<PdfWord> words = pdfWords(save(reportWithHostileNames()));
    // Each row's name starts with the A's; the first word of the line below it is the tail.
    int checked = 0;
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i].text.rfind("AAAA", 0) != 0) continue;
        size_t next = i + 1;
        while (next < words.size() && words[next].yMin < words[i].yMin + 5) ++next;
        ASSERT_LT(next, words.size());
        EXPECT_NEAR(words[next].xMin, words[i].xMin, 0.5) << words[next].text;
        EXPECT_GT(words[i].xMin, 48 + 50);  // the name, not the row, starts there
        ++checked;
    }
    EXPECT_EQ(checked, 2);
}

TEST_F(ReportPdfTest, ControlsThatReorderOrBreakALineAreShownAsReplacementCharacters) {
    // C1 controls, embeddings, overrides and isolates, each between two letters.
    std::string name = "X";
    std::vector<std::string> hidden = {"\u0080", "\u0085", "\u009F", "\u2028", "\u2029", "\u202A", "\u202B",
                                       "\u202C", "\u202D", "\u202E", "\u2066", "\u2067", "\u2068", "\u2069"};
    for (const std::string& control : hidden) name += control + "Y";
    name += "\u200E\u00A0\u00C4.MOV";  // a mark, a no-break space and a letter of Latin-1 stay
    auto report = reportOf({clip(name, MatchStatus::missing())});
    std::string expected = "X";
    for (size_t i = 0; i < hidden.size(); ++i) expected += "\uFFFDY";
    expected += "\u200E\u00A0\u00C4.MOV";
    bool found = false;
    for (const auto& line : report.summaryLines()) {
        for (const std::string& control : hidden) EXPECT_EQ(line.text.find(control), std::string::npos) << line.text;
        found = found || line.text.find(expected) != std::string::npos;
    }
    EXPECT_TRUE(found);
    EXPECT_NE(ReportExporter::csv(report).find(name), std::string::npos);
}
