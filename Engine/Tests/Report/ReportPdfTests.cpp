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
