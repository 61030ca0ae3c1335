// TransferLogExporter::pdf: the printable production log of a copy run, on landscape US
// Letter pages: a title, a coloured verdict, source and destination, then a banded table
// of every file, its header repeated on each page. A file that failed takes a second line
// under its row, in the row's band: why it failed. A file name too wide for its cell is
// measured and shortened from the front; every longer text (the heading lines, a reason)
// wraps onto as many lines as it needs inside the margins.

#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/PdfDocument.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <unicode/ubrk.h>
#include <unicode/udat.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

namespace tessaline {

namespace {

using Kind = CopyEngine::FileStatus::Kind;
using Color = PdfDocument::Color;
using Font = PdfDocument::Font;

constexpr double left = 40;
constexpr double bandWidth = 712;
constexpr double rowStep = 14;
constexpr double lastBaselineLimit = 54;  // a row is drawn only above this baseline
constexpr double columns[] = {40, 130, 522, 602};
// The file cell holds as much as 64 characters of its font: a name no wider is shown whole,
// and about 70 points stay free before the size column whatever the script.
constexpr size_t fileCellCharacters = 64;

const Color black = Color::grey(0);
const Color green = Color::rgb(0, 0.45, 0);
const Color red = Color::rgb(0.7, 0, 0);

// The date and time in the user's medium styles (current locale and time zone), as the
// system shows dates elsewhere; strftime's "%x %X" when ICU cannot format it.
std::string mediumDateTime(EpochSeconds when) {
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(UDAT_MEDIUM, UDAT_MEDIUM, nullptr, nullptr, -1, nullptr, 0, &status);
    if (U_SUCCESS(status) && format) {
        std::unique_ptr<UDateFormat, void (*)(UDateFormat*)> owner(format, udat_close);
        UChar buffer[128];
        int32_t length = udat_format(format, when * 1000.0, buffer, 128, nullptr, &status);
        char utf8[512];
        int32_t utf8Length = 0;
        if (U_SUCCESS(status)) u_strToUTF8(utf8, sizeof utf8, &utf8Length, buffer, length, &status);
        if (U_SUCCESS(status)) return std::string(utf8, static_cast<size_t>(utf8Length));
    }
    time_t seconds = static_cast<time_t>(std::floor(when));
    struct tm local{};
    localtime_r(&seconds, &local);
    char text[128];
    size_t n = strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, n);
}

// The byte offsets where user-perceived characters begin, plus the end.
std::vector<int32_t> graphemeBoundaries(const std::string& text) {
    std::vector<int32_t> bounds;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    UBreakIterator* iterator = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    if (U_SUCCESS(status)) {
        ubrk_setUText(iterator, utext, &status);
        for (int32_t at = ubrk_first(iterator); at != UBRK_DONE && U_SUCCESS(status); at = ubrk_next(iterator))
            bounds.push_back(at);
    }
    if (iterator) ubrk_close(iterator);
    if (utext) utext_close(utext);
    if (bounds.empty()) {  // ICU unavailable: one character per code point
        for (size_t i = 0; i < text.size(); ++i)
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) bounds.push_back(static_cast<int32_t>(i));
        bounds.push_back(static_cast<int32_t>(text.size()));
    }
    return bounds;
}

// The file cell: the name whole when it fits `cellWidth`, else "…" and the longest tail of
// whole characters that fits with it (at least the last character), so the end of the name,
// which tells files apart, stays.
std::string fileCell(const PdfDocument& pdf, const std::string& relativePath, double cellWidth) {
    const Font font = Font::mono(8.5);
    std::string text = singleLineText(relativePath);
    if (pdf.textWidth(text, font) <= cellWidth) return text;
    std::vector<int32_t> bounds = graphemeBoundaries(text);
    auto shortened = [&](size_t from) { return "…" + text.substr(static_cast<size_t>(bounds[from])); };
    // The first boundary whose tail fits: tails only get narrower further on.
    size_t low = 0, high = bounds.size() - 2;
    while (low < high) {
        size_t middle = (low + high) / 2;
        if (pdf.textWidth(shortened(middle), font) <= cellWidth)
            high = middle;
        else
            low = middle + 1;
    }
    return shortened(low);
}

struct StatusCell {
    const char* text;
    Color color;
};

StatusCell statusCell(Kind kind) {
    switch (kind) {
        case Kind::copiedVerified: return {"✓ verified", green};
        case Kind::skippedAlreadyPresent: return {"✓ present", green};
        case Kind::copiedNotVerified: return {"· copied", Color::grey(0.3)};
        case Kind::verificationFailed: return {"✗ FAILED", red};
        case Kind::failed: return {"✗ error", red};
    }
    return {"✗ error", red};
}

std::string verdictText(const TransferLog::TransferStanding& standing) {
    using StandingKind = TransferLog::TransferStanding::Kind;
    const std::string count = std::to_string(standing.count);
    const std::string total = standing.total ? std::to_string(*standing.total) : std::string();
    switch (standing.kind) {
        case StandingKind::verified:
            return "✓ " + allOf(standing.count, "file", "files") + " copied and verified byte-for-byte.";
        case StandingKind::cancelledIncomplete:
            return "⚠ STOPPED EARLY — " + partOf(standing.count, standing.total.value_or(0), "file", "files") +
                   " handled. INCOMPLETE; do not wipe the card.";
        case StandingKind::incomplete:
            return "⚠ INCOMPLETE — " +
                   (standing.total ? partOf(standing.count, *standing.total, "file", "files")
                                   : count + " of an unrecorded number of files") +
                   " handled. Do not wipe the card.";
        case StandingKind::hasFailures:
            return "⚠ " + partOf(standing.count, standing.total.value_or(0), "file", "files") +
                   " FAILED — do not wipe the card.";
        case StandingKind::hasUnverified:
            return "⚠ " + partOf(standing.count, standing.total.value_or(0), "file", "files") + " " +
                   (standing.count == 1 ? "was" : "were") + " copied WITHOUT byte-verification.";
        case StandingKind::noFiles: return "⚠ No files were transferred.";
        case StandingKind::cardNotProven: break;  // needs the notes: verdictText(log)
    }
    return {};
}

std::string verdictText(const TransferLog& log) {
    const TransferLog::TransferStanding standing = log.standing();
    if (standing.kind != TransferLog::TransferStanding::Kind::cardNotProven) return verdictText(standing);
    return "⚠ " + partOf(log.verifiedCount() + log.skippedCount(), log.fileCount(), "file", "files") +
           " copied and verified byte-for-byte. " + CardFileNote::unprovenHeading(log.cardFilesNotProven()) +
           " (listed below) — do not wipe the card.";
}

// The status cell of a card file note's row.
StatusCell noteCell(CardFileNote::Kind kind) {
    switch (kind) {
        case CardFileNote::Kind::onlyOnCard: return {"✗ card only", red};
        case CardFileNote::Kind::changedOnCard: return {"✗ changed", red};
        case CardFileNote::Kind::storedWhereScanMissesIt: return {"✗ renamed", red};
        case CardFileNote::Kind::storedUnderOtherName: return {"· renamed", Color::grey(0.3)};
    }
    return {"✗ card only", red};
}

void drawTableHeader(PdfDocument& pdf, double baseline) {
    pdf.fillRect({left, baseline - 3, bandWidth, rowStep}, Color::grey(0.12));
    const char* headers[] = {"STATUS", "FILE", "SIZE", "XXH64 (destination)"};
    for (int i = 0; i < 4; ++i) pdf.drawText(columns[i], baseline, headers[i], Font::mono(8.5, true), Color::grey(1));
}

// Why a failed file failed, as its second line says it; empty for every other status.
std::string failureReason(const CopyEngine::FileStatus& status) {
    if (status.kind == Kind::failed) return status.reason.value_or("error");
    if (status.kind == Kind::verificationFailed) return status.reason.value_or("checksum mismatch");
    return {};
}

// `text` in lines no wider than `width`: each the longest run of whole characters that fits
// (at least one), broken after its last blank where it has one.
std::vector<std::string> wrapped(const PdfDocument& pdf, const std::string& text, const Font& font, double width) {
    if (pdf.textWidth(text, font) <= width) return {text};
    std::vector<int32_t> bounds = graphemeBoundaries(text);
    auto piece = [&](size_t from, size_t to) {
        return text.substr(static_cast<size_t>(bounds[from]), static_cast<size_t>(bounds[to] - bounds[from]));
    };
    std::vector<std::string> lines;
    for (size_t start = 0; start + 1 < bounds.size();) {
        size_t low = start + 1, high = bounds.size() - 1;
        while (low < high) {
            size_t middle = (low + high + 1) / 2;
            if (pdf.textWidth(piece(start, middle), font) <= width)
                low = middle;
            else
                high = middle - 1;
        }
        size_t end = low;
        if (end + 1 < bounds.size())
            for (size_t k = end; k > start + 1; --k)
                if (text[static_cast<size_t>(bounds[k]) - 1] == ' ') {
                    end = k;
                    break;
                }
        lines.push_back(piece(start, end));
        start = end;
    }
    return lines;
}

// The lines under a row: why a failed file failed, or a card file note's reason, wrapped to
// the band from the file column on; none for every other row.
std::vector<std::string> reasonLines(const PdfDocument& pdf, const std::string& reason) {
    if (reason.empty()) return {};
    return wrapped(pdf, reason, Font::sans(8.5), left + bandWidth - columns[1]);
}

// Draws `lines` from `baseline` down, one row step apart.
void drawLines(PdfDocument& pdf, double x, double baseline, const std::vector<std::string>& lines, const Font& font,
               const Color& color) {
    for (const std::string& line : lines) {
        pdf.drawText(x, baseline, line, font, color);
        baseline -= rowStep;
    }
}

// A card file note's row: its status and path, and under them its reason (red where it
// keeps the card unsafe).
void drawNoteRow(PdfDocument& pdf, const CardFileNote& note, const std::vector<std::string>& reason, size_t index,
                 double baseline, double fileCellWidth) {
    const double lines = 1.0 + static_cast<double>(reason.size());
    if (index % 2 == 1) pdf.fillRect({left, baseline - (lines - 1) * rowStep - 3, bandWidth, rowStep * lines}, Color::grey(0.95));
    StatusCell status = noteCell(note.kind);
    pdf.drawText(columns[0], baseline, status.text, Font::mono(8.5, true), status.color);
    pdf.drawText(columns[1], baseline, fileCell(pdf, note.relativePath, fileCellWidth), Font::mono(8.5), black);
    drawLines(pdf, columns[1], baseline - rowStep, reason, Font::sans(8.5), note.keepsCardUnsafe() ? red : Color::grey(0.3));
}

void drawRow(PdfDocument& pdf, const CopyEngine::FileOutcome& outcome, const std::vector<std::string>& reason,
             size_t index, double baseline, double fileCellWidth) {
    const double lines = 1.0 + static_cast<double>(reason.size());
    if (index % 2 == 1) pdf.fillRect({left, baseline - (lines - 1) * rowStep - 3, bandWidth, rowStep * lines}, Color::grey(0.95));
    drawLines(pdf, columns[1], baseline - rowStep, reason, Font::sans(8.5), red);
    StatusCell status = statusCell(outcome.status.kind);
    pdf.drawText(columns[0], baseline, status.text, Font::mono(8.5, true), status.color);
    pdf.drawText(columns[1], baseline, fileCell(pdf, outcome.relativePath, fileCellWidth), Font::mono(8.5), black);
    pdf.drawText(columns[2], baseline, formatFileSize(outcome.byteSize), Font::mono(8.5), black);
    const auto& checksum = outcome.destinationChecksum ? outcome.destinationChecksum : outcome.sourceChecksum;
    pdf.drawText(columns[3], baseline, checksum.value_or("—"), Font::mono(8.5), black);
}

}  // namespace

std::string TransferLogExporter::pdf(const TransferLog& log) {
    PdfDocument pdf(PdfDocument::usLetterLandscape);

    pdf.drawText(left, 558, "Brindlecove — Verified Transfer Log", Font::sans(16, true), black);
    TransferLog::TransferStanding standing = log.standing();
    bool verified = standing.kind == TransferLog::TransferStanding::Kind::verified;
    // The heading's lines, each wrapped inside the margins.
    double y = 542;
    auto heading = [&](const std::string& text, const Color& color) {
        for (const std::string& line : wrapped(pdf, text, Font::sans(9), bandWidth)) {
            pdf.drawText(left, y, line, Font::sans(9), color);
            y -= 12;
        }
    };
    heading(verdictText(log), verified ? green : red);
    y -= 2;
    heading("Source: " + singleLineText(log.sourceURL.native()), black);
    heading("Destination: " + singleLineText(log.destinationURL.native()) + "   ·   " + mediumDateTime(log.finishedAt) +
                "   ·   " + formatFileSize(log.totalBytes()),
            black);

    // A tolerance of a hundredth of a point keeps a name of exactly the budget whole.
    const double fileCellWidth = pdf.textWidth(std::string(fileCellCharacters, '0'), Font::mono(8.5)) + 0.01;
    // The outcomes' rows, then the card file notes'.
    const size_t rows = log.outcomes.size() + log.cardFileNotes.size();
    auto reasonOf = [&](size_t row) {
        if (row >= log.outcomes.size()) return singleLineText(log.cardFileNotes[row - log.outcomes.size()].reason);
        const std::string why = failureReason(log.outcomes[row].status);
        return why.empty() ? why : "Why: " + singleLineText(why);
    };
    size_t index = 0;
    double header = y - 8;
    for (;;) {
        drawTableHeader(pdf, header);
        // A row is drawn only when its last line stays above the limit, or when it is the
        // first of its page (a reason longer than a page is drawn as far as it goes).
        bool first = true;
        for (double baseline = header - 16; index < rows; ++index, first = false) {
            const bool isNote = index >= log.outcomes.size();
            const std::vector<std::string> reason = reasonLines(pdf, reasonOf(index));
            const double lines = 1.0 + static_cast<double>(reason.size());
            if (!first && baseline - (lines - 1) * rowStep <= lastBaselineLimit) break;
            if (isNote)
                drawNoteRow(pdf, log.cardFileNotes[index - log.outcomes.size()], reason, index, baseline, fileCellWidth);
            else
                drawRow(pdf, log.outcomes[index], reason, index, baseline, fileCellWidth);
            baseline -= rowStep * lines;
        }
        if (index >= rows) break;
        pdf.newPage();
        header = 572;
    }
    return pdf.finish();
}

}  // namespace tessaline
