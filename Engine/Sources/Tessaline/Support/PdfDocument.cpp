#include "Tessaline/Support/PdfDocument.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
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
    std::string drawable = drawableText(text);
    LayoutHandle layout = impl_->newLayout();
    FontDescriptionHandle description = fontDescription(font);
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), drawable.data(), static_cast<int>(drawable.size()));
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

void PdfDocument::flowLines(const std::vector<StyledLine>& lines, const Rect& frame) {
    impl_->requireOpen();
    if (lines.empty()) return;

    // One paragraph per line: texts joined by "\n" with no final one, so pango makes no
    // trailing empty line (which could start a blank extra page). Attribute ranges are
    // UTF-8 byte offsets.
    std::string body;
    AttrListHandle attributes(pango_attr_list_new());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) body.push_back('\n');
        auto start = static_cast<guint>(body.size());
        body += drawableText(lines[i].text);
        auto end = static_cast<guint>(body.size() + 1);  // the line break takes the line's style too
        FontDescriptionHandle description = fontDescription(lines[i].font);
        PangoAttribute* fontAttribute = pango_attr_font_desc_new(description.get());
        fontAttribute->start_index = start;
        fontAttribute->end_index = end;
        pango_attr_list_insert(attributes.get(), fontAttribute);
        const Color& color = lines[i].color;
        PangoAttribute* colorAttribute = pango_attr_foreground_new(colorComponent(color.red), colorComponent(color.green),
                                                                   colorComponent(color.blue));
        colorAttribute->start_index = start;
        colorAttribute->end_index = end;
        pango_attr_list_insert(attributes.get(), colorAttribute);
    }

    LayoutHandle layout = impl_->newLayout();
    FontDescriptionHandle baseFont = fontDescription(lines.front().font);
    pango_layout_set_font_description(layout.get(), baseFont.get());
    pango_layout_set_width(layout.get(), static_cast<int>(std::lround(frame.width * PANGO_SCALE)));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
    pango_layout_set_text(layout.get(), body.data(), static_cast<int>(body.size()));
    pango_layout_set_attributes(layout.get(), attributes.get());

    cairo_t* cr = impl_->cr.get();
    const double frameTop = impl_->size.height - frame.y - frame.height;  // in cairo's top-down space
    const double frameHeight = frame.height * PANGO_SCALE;
    LayoutIterHandle iter(pango_layout_get_iter(layout.get()));
    bool firstOnPage = true;
    int pageTop = 0;
    do {
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter.get(), nullptr, &logical);
        int baseline = pango_layout_iter_get_baseline(iter.get());
        if (firstOnPage) {
            pageTop = logical.y;
        } else if (logical.y + logical.height - pageTop > frameHeight) {
            newPage();
            pageTop = logical.y;
        }
        firstOnPage = false;
        cairo_move_to(cr, frame.x + static_cast<double>(logical.x) / PANGO_SCALE,
                      frameTop + static_cast<double>(baseline - pageTop) / PANGO_SCALE);
        pango_cairo_show_layout_line(cr, pango_layout_iter_get_line_readonly(iter.get()));
    } while (pango_layout_iter_next_line(iter.get()));
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
