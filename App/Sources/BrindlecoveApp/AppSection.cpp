#include "BrindlecoveApp/AppSection.hpp"

namespace brindlecove {

namespace {

struct SectionRow {
    AppSection section;
    const char* label;
    const char* symbol;
    const char* purpose;
};

// Texts are the product's own; they are shown verbatim.
const std::array<SectionRow, 8>& rows() {
    static const std::array<SectionRow, 8> table = {{
        {AppSection::scan, "Scan", "externaldrive.badge.checkmark",
         "Check a card (or any drive) against your backup drives by the footage's embedded camera metadata — "
         "not filenames. The result: what's still ONLY on the source."},
        {AppSection::report, "Report", "list.bullet.clipboard",
         "The scan's results as one A–Z list — missing files in red. Click any file to preview/play it. Export "
         "PDF/CSV, and rescue the missing files to a drive in one click."},
        {AppSection::copy, "Copy", "doc.on.doc.fill",
         "Copy a card to a drive with every file verified byte-for-byte against the disk. Never overwrites a "
         "different file with the same name."},
        {AppSection::productionLog, "Production Log", "doc.badge.gearshape",
         "Export the transfer record of a copy — dated, named, sized — as PDF or industry-standard ASC-MHL for "
         "clients and post houses."},
        {AppSection::sync, "Sync", "arrow.triangle.2.circlepath",
         "Set drive→drive pairs that copy automatically when the source is inserted, on a daily schedule, or via "
         "Sync Now. Every file verified."},
        {AppSection::eraseCard, "Erase Card", "eraser.fill",
         "Two modes: wipe a verified card and rebuild your camera's folder structure (like an in-camera format), "
         "or fully reformat an external drive/card (ExFAT, FAT32, APFS, Mac OS Extended)."},
        {AppSection::logs, "Logs", "clock.arrow.circlepath",
         "Every scan and copy is saved here automatically — browse by date or by job/project, reopen the PDFs "
         "anytime."},
        {AppSection::settings, "Settings", "gearshape",
         "The drives granted to Brindlecove, the scan cache, the folder for plain-text report copies, and a guide "
         "to the sections."},
    }};
    return table;
}

const SectionRow& rowFor(AppSection section) { return rows()[static_cast<size_t>(section)]; }

}  // namespace

QString rawValue(AppSection section) { return QString::fromUtf8(rowFor(section).label); }

std::optional<AppSection> appSectionFromRaw(const QString& text) {
    for (const auto& row : rows())
        if (text == QString::fromUtf8(row.label)) return row.section;
    return std::nullopt;
}

QString symbolName(AppSection section) { return QString::fromUtf8(rowFor(section).symbol); }

QString purpose(AppSection section) { return QString::fromUtf8(rowFor(section).purpose); }

}  // namespace brindlecove
