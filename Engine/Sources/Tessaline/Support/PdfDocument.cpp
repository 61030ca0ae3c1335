#include "Tessaline/Support/PdfDocument.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace tessaline {

namespace {

struct SurfaceCloser {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextCloser {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct GObjectCloser {
    void operator()(void* object) const { g_object_unref(object); }
};
struct FontDescriptionCloser {
    void operator()(PangoFontDescription* description) const { pango_font_description_free(description); }
};
struct AttrListCloser {
    void operator()(PangoAttrList* list) const { pango_attr_list_unref(list); }
};
struct LayoutIterCloser {
    void operator()(PangoLayoutIter* iter) const { pango_layout_iter_free(iter); }
};

using SurfaceHandle = std::unique_ptr<cairo_surface_t, SurfaceCloser>;
using CairoHandle = std::unique_ptr<cairo_t, ContextCloser>;
using PangoContextHandle = std::unique_ptr<PangoContext, GObjectCloser>;
using LayoutHandle = std::unique_ptr<PangoLayout, GObjectCloser>;
using FontDescriptionHandle = std::unique_ptr<PangoFontDescription, FontDescriptionCloser>;
using AttrListHandle = std::unique_ptr<PangoAttrList, AttrListCloser>;
using LayoutIterHandle = std::unique_ptr<PangoLayoutIter, LayoutIterCloser>;

// Measured: at pango's default 96 dpi a "9 pt" font is 12 PDF units high; PDFs are 72 units
// per inch, so the layout resolution is set to match.
constexpr double pdfResolution = 72.0;

FontDescriptionHandle fontDescription(const PdfDocument::Font& font) {
    FontDescriptionHandle description(pango_font_description_new());
    pango_font_description_set_family(description.get(),
                                      font.family == PdfDocument::Font::Family::mono ? "DejaVu Sans Mono" : "DejaVu Sans");
    pango_font_description_set_weight(description.get(), font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_size(description.get(), static_cast<gint>(std::lround(font.sizePoints * PANGO_SCALE)));
    return description;
}

// Pango warns on stderr and draws boxes for ill-formed UTF-8, and stops at NUL bytes.
std::string drawableText(std::string_view text) {
    std::string valid = toDisplayUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (char c : valid) {
        if (c == '\0')
            out += "\xEF\xBF\xBD";
        else
            out.push_back(c);
    }
    return out;
}

guint16 colorComponent(double value) {
    return static_cast<guint16>(std::lround(std::clamp(value, 0.0, 1.0) * 65535.0));
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    } catch (...) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

}  // namespace

struct PdfDocument::Impl {
    PageSize size{};
    int pageCount = 1;
    bool finished = false;
    std::string bytes;  // cairo's output; the surface writes here through appendBytes
    SurfaceHandle surface;
    CairoHandle cr;
    PangoContextHandle pango;

    void requireOpen() const {
        if (finished) throw std::logic_error("PdfDocument used after finish()");
    }
    LayoutHandle newLayout() const { return LayoutHandle(pango_layout_new(pango.get())); }

    // `text` laid out as one line, line breaks drawn as symbols.
    LayoutHandle singleLine(std::string_view text, const Font& font) const {
        std::string drawable = drawableText(text);
        LayoutHandle layout = newLayout();
        FontDescriptionHandle description = fontDescription(font);
        pango_layout_set_font_description(layout.get(), description.get());
        pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
        pango_layout_set_text(layout.get(), drawable.data(), static_cast<int>(drawable.size()));
        return layout;
    }
};

PdfDocument::PdfDocument(PageSize size) : impl_(std::make_unique<Impl>()) {
    impl_->size = size;
    impl_->surface.reset(cairo_pdf_surface_create_for_stream(appendBytes, &impl_->bytes, size.width, size.height));
    if (cairo_surface_status(impl_->surface.get()) != CAIRO_STATUS_SUCCESS)
        throw PdfError(cairo_status_to_string(cairo_surface_status(impl_->surface.get())));
    impl_->cr.reset(cairo_create(impl_->surface.get()));
    if (cairo_status(impl_->cr.get()) != CAIRO_STATUS_SUCCESS)
        throw PdfError(cairo_status_to_string(cairo_status(impl_->cr.get())));
    impl_->pango.reset(pango_cairo_create_context(impl_->cr.get()));
    if (!impl_->pango) throw PdfError("no pango context");
    pango_cairo_context_set_resolution(impl_->pango.get(), pdfResolution);
}

PdfDocument::~PdfDocument() = default;
PdfDocument::PdfDocument(PdfDocument&&) noexcept = default;
PdfDocument& PdfDocument::operator=(PdfDocument&&) noexcept = default;

PdfDocument::PageSize PdfDocument::pageSize() const { return impl_->size; }

int PdfDocument::pageCount() const { return impl_->pageCount; }

void PdfDocument::newPage() {
    impl_->requireOpen();
    cairo_show_page(impl_->cr.get());
    ++impl_->pageCount;
}

void PdfDocument::drawText(double x, double baselineY, std::string_view text, const Font& font, const Color& color) {
    impl_->requireOpen();
    LayoutHandle layout = impl_->singleLine(text, font);
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout.get(), 0);
    if (!line) return;
    cairo_t* cr = impl_->cr.get();
    cairo_set_source_rgb(cr, color.red, color.green, color.blue);
    cairo_move_to(cr, x, impl_->size.height - baselineY);
    pango_cairo_show_layout_line(cr, line);
}

void PdfDocument::fillRect(const Rect& rect, const Color& color) {
    impl_->requireOpen();
    cairo_t* cr = impl_->cr.get();
    cairo_set_source_rgb(cr, color.red, color.green, color.blue);
    cairo_rectangle(cr, rect.x, impl_->size.height - rect.y - rect.height, rect.width, rect.height);
    cairo_fill(cr);
}

double PdfDocument::textWidth(std::string_view text, const Font& font) const {
    impl_->requireOpen();
    LayoutHandle layout = impl_->singleLine(text, font);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

void PdfDocument::flowLines(const std::vector<StyledLine>& lines, const Rect& frame) {
    impl_->requireOpen();
    if (lines.empty()) return;

    // One layout per paragraph, stacked by its measured height. Pango's cost on a single
    // layout of many paragraphs grows with the square of their number (measured: 2,000
    // report rows 0.4 s, 20,000 rows 31 s); paragraph by paragraph it grows linearly, and
    // every line keeps the height and place it had in one layout, since line heights there
    // are also per line and lines follow each other without spacing. The base direction is
    // left to right whatever script a paragraph starts with, so a name never moves its line
    // to the right margin.
    const int width = static_cast<int>(std::lround(frame.width * PANGO_SCALE));
    LayoutHandle layout = impl_->newLayout();
    pango_layout_set_width(layout.get(), width);
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
    pango_layout_set_auto_dir(layout.get(), FALSE);

    cairo_t* cr = impl_->cr.get();
    const double frameTop = impl_->size.height - frame.y - frame.height;  // in cairo's top-down space
    const double frameHeight = frame.height * PANGO_SCALE;
    bool firstOnPage = true;
    int64_t pageTop = 0;       // flow position of the current page's first line, pango units
    int64_t paragraphTop = 0;  // flow position of the paragraph in hand
    for (const StyledLine& line : lines) {
        std::string text = drawableText(line.text);
        FontDescriptionHandle description = fontDescription(line.font);
        pango_layout_set_font_description(layout.get(), description.get());
        AttrListHandle attributes(pango_attr_list_new());
        pango_attr_list_insert(attributes.get(), pango_attr_foreground_new(colorComponent(line.color.red),
                                                                           colorComponent(line.color.green),
                                                                           colorComponent(line.color.blue)));
        pango_layout_set_attributes(layout.get(), attributes.get());
        pango_layout_set_indent(layout.get(), 0);
        pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
        if (line.continuationOffset > 0 && line.continuationOffset < line.text.size() &&
            pango_layout_get_line_count(layout.get()) > 1) {
            // A negative indent hangs: the first line keeps the full width, the others start
            // under the text after the offset, never wider than half the frame.
            double hang = textWidth(std::string_view(line.text).substr(0, line.continuationOffset), line.font);
            int indent = static_cast<int>(std::lround(std::min(hang, frame.width / 2) * PANGO_SCALE));
            pango_layout_set_indent(layout.get(), -indent);
        }

        LayoutIterHandle iter(pango_layout_get_iter(layout.get()));
        int64_t bottom = 0;  // of the paragraph's last line, from the paragraph's top
        do {
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(iter.get(), nullptr, &logical);
            const int64_t top = paragraphTop + logical.y;
            const int64_t baseline = paragraphTop + pango_layout_iter_get_baseline(iter.get());
            if (firstOnPage) {
                pageTop = top;
            } else if (static_cast<double>(top + logical.height - pageTop) > frameHeight) {
                newPage();
                pageTop = top;
            }
            firstOnPage = false;
            bottom = logical.y + logical.height;
            cairo_move_to(cr, frame.x + static_cast<double>(logical.x) / PANGO_SCALE,
                          frameTop + static_cast<double>(baseline - pageTop) / PANGO_SCALE);
            pango_cairo_show_layout_line(cr, pango_layout_iter_get_line_readonly(iter.get()));
        } while (pango_layout_iter_next_line(iter.get()));
        paragraphTop += bottom;
    }
}

std::string PdfDocument::finish() {
    impl_->requireOpen();
    impl_->finished = true;
    cairo_show_page(impl_->cr.get());
    cairo_status_t drawStatus = cairo_status(impl_->cr.get());
    impl_->pango.reset();
    impl_->cr.reset();
    cairo_surface_finish(impl_->surface.get());
    cairo_status_t surfaceStatus = cairo_surface_status(impl_->surface.get());
    impl_->surface.reset();
    if (drawStatus != CAIRO_STATUS_SUCCESS) throw PdfError(cairo_status_to_string(drawStatus));
    if (surfaceStatus != CAIRO_STATUS_SUCCESS) throw PdfError(cairo_status_to_string(surfaceStatus));
    if (impl_->bytes.empty()) throw PdfError("no output");
    return std::move(impl_->bytes);
}

}  // namespace tessaline
