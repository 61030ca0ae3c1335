#pragma once
// The application's list of archived logs, as the Logs section shows it: newest first,
// grouped by day or by job. It re-lists the archive at start-up, whenever
// "Brindlecove.logArchived" is posted (in a later turn of the event loop) and after every
// change made through it. Listing runs synchronously on the main thread. Main thread only.

#include "BrindlecoveApp/LogArchiveProvider.hpp"

#include "Tessaline/Report/ArchivedLog.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace brindlecove {

using LogGroup = std::pair<QString, std::vector<tessaline::ArchivedLog>>;

class LogStore : public QObject {
    Q_OBJECT
public:
    static inline const QString unfiledName = QStringLiteral("Unfiled");

    explicit LogStore(QObject* parent = nullptr);
    explicit LogStore(const LogArchiveProvider& provider, QObject* parent = nullptr);

    const std::vector<tessaline::ArchivedLog>& logs() const { return logs_; }
    // Where logs are filed, as the user chose it (or the default archive's folder).
    const QString& folderPath() const { return folderPath_; }
    // Set when the latest log could not be saved there: where it went and why.
    const std::optional<QString>& filingNotice() const { return filingNotice_; }
    const LogArchiveProvider& provider() const { return provider_; }

    // Re-lists the archive now in force.
    void refresh();

    // Days ("yyyy-MM-dd", local time) newest first; logs keep their list order within a day.
    std::vector<LogGroup> groupedByDay() const;
    // Groups by job, with an empty group for every known job without logs; jobs in the
    // locale's case-insensitive order, "Unfiled" last; logs newest first within a group.
    std::vector<LogGroup> groupedByJob(const QStringList& includingEmpty) const;

    // Re-files every log of the job (exact name) as unfiled, then re-lists once. Errors are
    // ignored. Called before the job itself is removed from the job store.
    void unfileLogs(const QString& job);
    // Re-files one log under a job (none: unfiled), then re-lists. False when it failed.
    bool moveLog(const tessaline::ArchivedLog& log, const std::optional<QString>& job);
    // Removes one log's folder, then re-lists.
    void deleteLog(const tessaline::ArchivedLog& log);

Q_SIGNALS:
    void logsChanged();
    void folderPathChanged();
    void changed();

private:
    const LogArchiveProvider& provider_;
    std::vector<tessaline::ArchivedLog> logs_;
    QString folderPath_;
    std::optional<QString> filingNotice_;
};

}  // namespace brindlecove
