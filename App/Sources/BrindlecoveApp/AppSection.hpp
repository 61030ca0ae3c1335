#pragma once
// The eight sections of the main window's sidebar, in their fixed order. The raw value is the
// label shown in the sidebar; the symbol is the name of its icon (see Views/Symbols).

#include <QString>

#include <array>
#include <optional>

namespace brindlecove {

enum class AppSection { scan, report, copy, productionLog, sync, eraseCard, logs, settings };

inline constexpr std::array<AppSection, 8> allAppSections = {
    AppSection::scan,      AppSection::report, AppSection::copy, AppSection::productionLog,
    AppSection::sync,      AppSection::eraseCard, AppSection::logs, AppSection::settings};

// "Scan", "Report", "Copy", "Production Log", "Sync", "Erase Card", "Logs", "Settings".
QString rawValue(AppSection section);
// The section whose label equals `text` exactly (case and spacing included); nullopt otherwise.
std::optional<AppSection> appSectionFromRaw(const QString& text);
// The sidebar symbol, e.g. "externaldrive.badge.checkmark" for Scan.
QString symbolName(AppSection section);
// The one-line purpose of the section, shown by its screen and in the section guide.
// Settings has none of its own in the guide; it returns its summary line.
QString purpose(AppSection section);

}  // namespace brindlecove
