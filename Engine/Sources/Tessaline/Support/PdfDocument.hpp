#pragma once
// A PDF document drawn in memory with cairo and pango, shared by every PDF the engine makes
// (the verification report, the transfer log). It owns its cairo surface, cairo context and
// pango context; nothing of them leaves this type.
//
// Coordinates are PDF points with the origin at the bottom left of the page, as in the PDF
// format itself: a text's y is its baseline, a rectangle's y its lower edge. Text is always
// plain text (never pango markup); ill-formed UTF-8 is shown with U+FFFD. Text is laid out at
// 72 dpi, so a 9-point font is 9 PDF units high.
//
// How to use it:
//
//     PdfDocument pdf(PdfDocument::usLetterLandscape);       // throws PdfError
//     pdf.fillRect({40, 493, 712, 14}, PdfDocument::Color::grey(0.12));
//     pdf.drawText(40, 496, "STATUS", PdfDocument::Font::mono(8.5, true),
//                  PdfDocument::Color::grey(1));               // one line, never wrapped
//     pdf.newPage();                                           // ends the page, starts the next
//     ...
//     std::string bytes = pdf.finish();                        // throws PdfError
//     writeFileAtomically(path, bytes);
//
// or, for running text that wraps inside a frame and continues on further pages:
//
//     PdfDocument pdf(PdfDocument::usLetterPortrait);
//     pdf.flowLines(lines, {48, 48, 516, 696});
//     std::string bytes = pdf.finish();
//
// Drawing starts on the first page without a call to newPage(). finish() always yields at
// least one page. One object is used by one thread at a time; separate documents may be drawn
// on separate threads at once (pango's font map is per thread; the first use on a thread pays
// the fontconfig load).

#include "Tessaline/Support/PdfError.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

class PdfDocument {
public:
    struct PageSize {
        double width;
        double height;
    };
    static constexpr PageSize usLetterPortrait{612, 792};
    static constexpr PageSize usLetterLandscape{792, 612};

    // A typeface in points. DejaVu Sans stands in for Helvetica and DejaVu Sans Mono for Menlo
    // (the same design lineage; both cover ✓ ✗ ≈ → ⚠ ─ × · — so no fallback font shifts columns).
    struct Font {
        enum class Family { sans, mono };
        Family family = Family::mono;
        double sizePoints = 9;
        bool bold = false;

        static Font sans(double sizePoints, bool bold = false) { return {Family::sans, sizePoints, bold}; }
        static Font mono(double sizePoints, bool bold = false) { return {Family::mono, sizePoints, bold}; }
    };

    // Red, green and blue from 0 to 1, opaque.
    struct Color {
        double red = 0;
        double green = 0;
        double blue = 0;

        static Color grey(double white) { return {white, white, white}; }
        static Color rgb(double red, double green, double blue) { return {red, green, blue}; }
    };

    // x, y of the lower-left corner, in points.
    struct Rect {
        double x;
        double y;
        double width;
        double height;
    };

    // One paragraph of running text with its own font and colour. When it wraps, its
    // continuation lines start under the text at byte `continuationOffset` (the width of the
    // text before it, at most half the frame), so what follows a label or a status word in
    // the paragraph never starts at the margin; 0 starts them at the margin.
    struct StyledLine {
        std::string text;
        Font font;
        Color color;
        size_t continuationOffset = 0;
    };

    // Starts a document whose pages all have `size`. Throws PdfError.
    explicit PdfDocument(PageSize size);
    ~PdfDocument();
    PdfDocument(PdfDocument&&) noexcept;
    PdfDocument& operator=(PdfDocument&&) noexcept;
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    PageSize pageSize() const;
    // Pages begun so far (the current one included); 1 right after construction.
    int pageCount() const;

    // Ends the current page and begins the next.
    void newPage();

    // Draws `text` as one line (line breaks inside it are drawn as symbols, never broken),
    // starting at x with its baseline at y. Nothing is wrapped or clipped.
    void drawText(double x, double baselineY, std::string_view text, const Font& font, const Color& color);

    // The advance width in points of `text` drawn as drawText() draws it.
    double textWidth(std::string_view text, const Font& font) const;

    // Fills a rectangle.
    void fillRect(const Rect& rect, const Color& color);

    // Lays the lines out as paragraphs from the top of `frame` on the current page, wrapping
    // long ones at word boundaries (or inside a word too long for the width), and begins new
    // pages as needed, each filled from the top of the same frame. A layout line is never split
    // or drawn twice; a wrapped paragraph may continue on the next page. The last page stays
    // current, so more may be drawn on it. Empty `lines` draws nothing.
    void flowLines(const std::vector<StyledLine>& lines, const Rect& frame);

    // Closes the document and returns its bytes. The document cannot be drawn on afterwards.
    // Throws PdfError when cairo reports any failure while drawing or closing.
    std::string finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaline
