#include "Support/TestSandbox.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/PdfDocument.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace tessaline;
using namespace tessaline::testing;

namespace {

class PdfDocumentTest : public SandboxedTest {
protected:
    std::string save(PdfDocument& pdf, const std::string& name = "out.pdf") {
        auto path = sandbox / name;
        writeFileAtomically(path, pdf.finish());
        return path.string();
    }
};

size_t occurrences(const std::string& text, const std::string& word) {
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) ++count;
    return count;
}

}  // namespace

TEST_F(PdfDocumentTest, PositionedTextOnLandscapePagesIsExtractable) {
    PdfDocument pdf(PdfDocument::usLetterLandscape);
    pdf.fillRect({40, 493, 712, 14}, PdfDocument::Color::grey(0.12));
    pdf.drawText(40, 558, "Title — ✓ ✗ ≈ → ⚠ ─ × ·", PdfDocument::Font::sans(16, true), PdfDocument::Color::grey(0));
    pdf.drawText(40, 496, "STATUS", PdfDocument::Font::mono(8.5, true), PdfDocument::Color::grey(1));
    pdf.newPage();
    pdf.drawText(40, 572, std::string("bad\xff name\nwith break"), PdfDocument::Font::mono(8.5),
                 PdfDocument::Color::rgb(0.7, 0, 0));
    EXPECT_EQ(pdf.pageCount(), 2);
    auto path = save(pdf);

    PdfInfo info = pdfInfo(path);
    EXPECT_EQ(info.pages, 2);
    EXPECT_DOUBLE_EQ(info.width, 792);
    EXPECT_DOUBLE_EQ(info.height, 612);
    std::string text = pdfText(path);
    EXPECT_NE(text.find("Title — ✓ ✗ ≈ → ⚠ ─ × ·"), std::string::npos) << text;
    EXPECT_NE(text.find("STATUS"), std::string::npos);
    EXPECT_NE(text.find("bad\xEF\xBF\xBD name"), std::string::npos) << text;
    // The page break comes between the two pages' texts.
    EXPECT_LT(text.find("STATUS"), text.find('\f'));
    EXPECT_GT(text.find("bad"), text.find('\f'));
}

TEST_F(PdfDocumentTest, EmptyDocumentHasOnePage) {
    PdfDocument pdf(PdfDocument::usLetterPortrait);
    auto path = save(pdf);
    PdfInfo info = pdfInfo(path);
    EXPECT_EQ(info.pages, 1);
    EXPECT_DOUBLE_EQ(info.width, 612);
    EXPECT_DOUBLE_EQ(info.height, 792);
}

TEST_F(PdfDocumentTest, FlowedLinesFillPagesWithoutLossOrRepeat) {
    // 66 lines of 9-point DejaVu Sans Mono fit in 696 points at 72 dpi; 150 lines need 3 pages.
    std::vector<PdfDocument::StyledLine> lines;
    for (int i = 0; i < 150; ++i)
        lines.push_back({"line-" + std::to_string(1000 + i), PdfDocument::Font::mono(9, i % 2 == 0),
                         PdfDocument::Color::rgb(0.78, 0, 0)});
    PdfDocument pdf(PdfDocument::usLetterPortrait);
    pdf.flowLines(lines, {48, 48, 516, 696});
    auto path = save(pdf);
    EXPECT_EQ(pdfInfo(path).pages, 3);
    std::string text = pdfText(path);
    for (int i = 0; i < 150; ++i) EXPECT_EQ(occurrences(text, "line-" + std::to_string(1000 + i)), 1u) << i;
    // Page 1 holds exactly 66 lines.
    std::string firstPage = text.substr(0, text.find('\f'));
    EXPECT_EQ(occurrences(firstPage, "line-"), 66u);
}

TEST_F(PdfDocumentTest, LongLineWrapsInsideTheFrame) {
    std::string longPath = "/media/drive/";
    for (int i = 0; i < 30; ++i) longPath += "folder" + std::to_string(i) + "/";
    longPath += "END.MOV";
    PdfDocument pdf(PdfDocument::usLetterPortrait);
    pdf.flowLines({{"first", PdfDocument::Font::mono(9), PdfDocument::Color::grey(0)},
                   {longPath, PdfDocument::Font::mono(9), PdfDocument::Color::grey(0)}},
                  {48, 48, 516, 696});
    auto path = save(pdf);
    EXPECT_EQ(pdfInfo(path).pages, 1);
    std::string text = pdfText(path);
    // 95 characters per line at this width: the path spans several lines, all of it kept.
    EXPECT_NE(text.find("END.MOV"), std::string::npos);
    std::string joined;
    for (char c : text)
        if (c != '\n' && c != ' ' && c != '\f') joined.push_back(c);
    EXPECT_NE(joined.find(longPath), std::string::npos) << text;
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST_F(PdfDocumentTest, UseAfterFinishIsRefused) {
    PdfDocument pdf(PdfDocument::usLetterPortrait);
    EXPECT_FALSE(pdf.finish().empty());
    EXPECT_THROW(pdf.newPage(), std::logic_error);
    EXPECT_THROW(pdf.finish(), std::logic_error);
}
