#include "BrindlecoveApp/ReportsFolderStore.hpp"

#include "BrindlecoveApp/AppError.hpp"
#include "BrindlecoveApp/Platform/FolderBookmark.hpp"

#include "Tessaline/Support/AtomicFile.hpp"

#include <QFile>
#include <QtGlobal>

namespace brindlecove::ReportsFolderStore {

bool isConfigured(const UserDefaults& defaults) { return defaults.data(bookmarkKey).has_value(); }

std::optional<std::filesystem::path> resolvedURL(const UserDefaults& defaults) {
    std::optional<QByteArray> data = defaults.data(bookmarkKey);
    if (!data) return std::nullopt;
    if (std::optional<FolderBookmark::Resolved> scoped = FolderBookmark::resolve(*data, true)) {
        if (scoped->stale)
            if (std::optional<QByteArray> fresh = FolderBookmark::make(scoped->folder, true))
                defaults.setValue(bookmarkKey, *fresh);
        return scoped->folder;
    }
    if (std::optional<FolderBookmark::Resolved> plain = FolderBookmark::resolve(*data, false))
        return plain->folder;
    return std::nullopt;
}

std::filesystem::path write(const QString& text, const QString& filename, const UserDefaults& defaults) {
    if (!isConfigured(defaults))
        throw AppError(QStringLiteral("Brindlecove"), 1, QStringLiteral("No reports folder is set."));
    std::optional<std::filesystem::path> folder = resolvedURL(defaults);
    if (!folder) throw AppError(QStringLiteral("Brindlecove"), 2, QStringLiteral("The reports folder can't be reached."));
    // A file name is never a path: a "/" would write outside the chosen folder.
    Q_ASSERT(!filename.contains(QLatin1Char('/')));
    QString safeName = filename;
    safeName.replace(QLatin1Char('/'), QLatin1Char('-'));
    const bool accessed = FolderBookmark::startAccess(*folder);
    Q_UNUSED(accessed);  // ending access does nothing here; a missing folder fails the write
    QByteArray bytes = text.toUtf8();
    // Two scans finishing within one second make the same name: the later report takes the
    // next free "<name> 2.txt", "<name> 3.txt" ... and never replaces the earlier one.
    return tessaline::writeNewFileAtomically(*folder, QFile::encodeName(safeName).toStdString(),
                                             std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

bool choose(const std::filesystem::path& folder, const UserDefaults& defaults) {
    std::optional<QByteArray> data = FolderBookmark::make(folder, true);
    if (!data) data = FolderBookmark::make(folder, false);
    if (!data) return false;
    defaults.setValue(bookmarkKey, *data);
    return true;
}

void clear(const UserDefaults& defaults) { defaults.remove(bookmarkKey); }

}  // namespace brindlecove::ReportsFolderStore
