#include "BrindlecoveApp/ViewModels/SettingsModel.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/Platform/PanelFolder.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"

#include "Tessaline/Index/FingerprintIndex.hpp"

#include <QDateTime>
#include <QPointer>

namespace brindlecove {

namespace {

QString toQString(const std::filesystem::path& path) { return QString::fromStdString(path.native()); }

}  // namespace

SettingsModel::SettingsModel(Dialogs dialogs, Runner runner, QObject* parent)
    : QObject(parent), dialogs_(std::move(dialogs)), runner_(std::move(runner)) {}

QString SettingsModel::volumeRowText(const tessaline::CacheStats::VolumeStat& stat) {
    QString text = Formats::groupedInteger(stat.fileCount) + QStringLiteral(" ") + Formats::noun(stat.fileCount, "file", "files");
    if (stat.lastScanned) {
        QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(*stat.lastScanned * 1000.0));
        text += QStringLiteral(" · scanned ") + Formats::abbreviatedDate(when.toLocalTime().date());
    }
    return text;
}

void SettingsModel::runInBackground(std::function<void()> work) {
    if (runner_)
        runner_(std::move(work));
    else
        Executor::shared().utility(std::move(work));
}

void SettingsModel::refresh() {
    grantedLabels_.clear();
    for (const auto& label : store_.grantedVolumeLabels()) grantedLabels_.append(QString::fromStdString(label));
    if (auto folder = ReportsFolderStore::resolvedURL())
        reportsFolderPath_ = toQString(*folder);
    else
        reportsFolderPath_.reset();
    Q_EMIT changed();
    loadCacheStats();
}

void SettingsModel::loadCacheStats() {
    runInBackground([self = QPointer<SettingsModel>(this)] {
        std::optional<tessaline::CacheStats> stats;
        try {
            tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
            stats = index.stats();
        } catch (...) {
            // A failed read shows the empty cache; no error is shown for it.
        }
        MainThread::post([self, stats] {
            if (!self) return;
            self->cacheStats_ = stats;
            Q_EMIT self->changed();
        });
    });
}

void SettingsModel::grantAccess() {
    if (!dialogs_.chooseFolder) return;
    // Like every card or drive panel, it opens where removable volumes mount.
    auto chosen = dialogs_.chooseFolder({QStringLiteral("Grant Access"),
                                         QStringLiteral("Pick the SD card or drive Brindlecove should remember."), false,
                                         RemovableMounts::parentFolder()});
    if (!chosen || chosen->isEmpty()) return;
    try {
        store_.grant(std::filesystem::path(chosen->toStdString()));
        lastError_.reset();
        refresh();
    } catch (const std::exception& error) {
        lastError_ = QString::fromStdString(error.what());
        Q_EMIT changed();
    }
}

void SettingsModel::forget(const QString& label) {
    try {
        store_.revoke(label.toStdString());
    } catch (...) {
        // A failed forget is silent; the list is read again all the same.
    }
    refresh();
}

void SettingsModel::chooseReportsFolder() {
    if (!dialogs_.chooseFolder) return;
    // At the folder in use, else home.
    auto chosen = dialogs_.chooseFolder({QStringLiteral("Save Reports Here"),
                                         QStringLiteral("Pick a folder where Brindlecove should save a .txt copy of "
                                                        "every report."),
                                         true, PanelFolder::orHome(reportsFolderPath_.value_or(QString()))});
    if (!chosen || chosen->isEmpty()) return;
    if (!ReportsFolderStore::choose(std::filesystem::path(chosen->toStdString()))) {
        reportsError_ = QStringLiteral("Couldn't remember the folder “%1”: it can't be read.").arg(*chosen);
        Q_EMIT changed();
        return;
    }
    reportsError_.reset();
    if (auto folder = ReportsFolderStore::resolvedURL())
        reportsFolderPath_ = toQString(*folder);
    else
        reportsFolderPath_.reset();
    Q_EMIT changed();
}

void SettingsModel::stopSavingReports() {
    ReportsFolderStore::clear();
    reportsFolderPath_.reset();
    Q_EMIT changed();
}

void SettingsModel::confirmAndClearCache() {
    Confirmation question{QStringLiteral("Clear the scan cache?"),
                          QStringLiteral("Always safe — nothing about your footage is touched. The only cost: the next "
                                         "scan of each drive re-reads every file, so it runs at first-scan speed."),
                          QStringLiteral("Clear Cache"), true};
    if (dialogs_.confirm && dialogs_.confirm(question)) clearCache();
}

void SettingsModel::clearCache() {
    runInBackground([self = QPointer<SettingsModel>(this)] {
        std::optional<QString> failure;
        try {
            tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
            index.clearAll();
        } catch (const std::exception& error) {
            failure = QString::fromStdString(error.what());
        }
        MainThread::post([self, failure] {
            if (!self) return;
            self->cacheError_ = failure;
            Q_EMIT self->changed();
            if (!failure) self->loadCacheStats();
        });
    });
}

}  // namespace brindlecove
