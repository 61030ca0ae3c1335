#pragma once
// The Settings section's state and operations: the granted drives, the folder for plain-text
// report copies, and the scan cache. Everything shown is read again by refresh(). Background
// reads and the cache clearing run on the utility pool and come back to the main thread,
// dropped if the model is gone by then. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Index/CacheStats.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace brindlecove {

class SettingsModel : public QObject {
    Q_OBJECT
public:
    // Runs background work; the default is the application's utility pool. Tests run inline.
    using Runner = std::function<void(std::function<void()>)>;

    explicit SettingsModel(Dialogs dialogs, Runner runner = {}, QObject* parent = nullptr);

    const QStringList& grantedLabels() const { return grantedLabels_; }
    const std::optional<QString>& lastError() const { return lastError_; }
    const std::optional<QString>& reportsFolderPath() const { return reportsFolderPath_; }
    const std::optional<QString>& reportsError() const { return reportsError_; }
    const std::optional<tessaline::CacheStats>& cacheStats() const { return cacheStats_; }
    const std::optional<QString>& cacheError() const { return cacheError_; }
    // Whether the cache group shows statistics (at least one row), else the empty text.
    bool showsCacheStatistics() const { return cacheStats_ && cacheStats_->totalRows >= 1; }
    // "<count> files", then " · scanned <date>" when the volume has a last-scan date.
    static QString volumeRowText(const tessaline::CacheStats::VolumeStat& stat);

    void refresh();
    void grantAccess();
    void forget(const QString& label);
    void chooseReportsFolder();
    void stopSavingReports();
    void loadCacheStats();
    // Asks for confirmation, then clears the cache in the background.
    void confirmAndClearCache();
    void clearCache();

Q_SIGNALS:
    void changed();

private:
    void runInBackground(std::function<void()> work);

    Dialogs dialogs_;
    Runner runner_;
    tessaline::SecurityScopedBookmarkStore store_;
    QStringList grantedLabels_;
    std::optional<QString> lastError_;
    std::optional<QString> reportsFolderPath_;
    std::optional<QString> reportsError_;
    std::optional<tessaline::CacheStats> cacheStats_;
    std::optional<QString> cacheError_;
};

}  // namespace brindlecove
