#pragma once
// The application's list of archived logs, as the Logs section shows it: newest first,
// grouped by day or by job. It re-lists the archive at start-up, whenever
// "Brindlecove.logArchived" is posted (in a later turn of the event loop) and after every
// change made through it. Listing and changes run on utility workers, never on the main
// thread (a logs folder on a drive or share that stops answering must not hold the window);
// changes run one at a time in the order asked for, and a listing asked for while a change
// is under way runs after it. Results come back to the main thread;
// a listing asked for later supersedes an earlier one that arrives after it. Workers hold
// only values and a guarded pointer to the store, so the store may go while they run.
// Main thread only.

#include "BrindlecoveApp/LogArchiveProvider.hpp"

#include "BrindlecoveApp/Platform/SerialQueue.hpp"

#include "Tessaline/Report/ArchivedLog.hpp"
#include "Tessaline/Report/LogArchive.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace brindlecove {

using LogGroup = std::pair<QString, std::vector<tessaline::ArchivedLog>>;

class LogStore : public QObject {
    Q_OBJECT
public:
    static inline const QString unfiledName = QStringLiteral("Unfiled");

    // Lists one archive on a worker: the archive's own list() unless a test holds it up.
    using Listing = std::function<std::vector<tessaline::ArchivedLog>(const tessaline::LogArchive&)>;

    // Starts the first listing; logs() stays empty until it arrives.
    explicit LogStore(QObject* parent = nullptr);
    explicit LogStore(const LogArchiveProvider& provider, QObject* parent = nullptr);
    LogStore(const LogArchiveProvider& provider, Listing listing, QObject* parent = nullptr);

    const std::vector<tessaline::ArchivedLog>& logs() const { return logs_; }
    // Whether a listing has arrived yet (before that the Logs section says it is loading).
    bool hasListed() const { return applied_ > 0; }
    // Whether the latest listing asked for has not arrived yet.
    bool isListing() const { return applied_ < requested_; }
    // Where logs are filed, as the user chose it (or the default archive's folder).
    const QString& folderPath() const { return folderPath_; }
    // Set when the latest log could not be saved there: where it went and why.
    const std::optional<QString>& filingNotice() const { return filingNotice_; }
    const LogArchiveProvider& provider() const { return provider_; }

    // Re-lists the archive now in force on a worker; logsChanged() when the list arrives.
    void refresh();

    // Days ("yyyy-MM-dd", local time) newest first; logs keep their list order within a day.
    std::vector<LogGroup> groupedByDay() const;
    // Groups by job, with an empty group for every known job without logs; jobs in the
    // locale's case-insensitive order, "Unfiled" last; logs newest first within a group.
    std::vector<LogGroup> groupedByJob(const QStringList& includingEmpty) const;

    // Each change runs on a worker after the changes asked for before it, then re-lists.
    // A failure is told by changeFailed() after the list that follows, which shows the logs
    // as they are (a log that changed since it was listed is left alone, and said so).
    // Re-files every log of the job (exact name, as listed now) as unfiled, then re-lists
    // once. Called before the job itself is removed from the job store.
    void unfileLogs(const QString& job);
    // Re-files one log under a job (none: unfiled), then re-lists.
    void moveLog(const tessaline::ArchivedLog& log, const std::optional<QString>& job);
    // Removes one log's folder, then re-lists.
    void deleteLog(const tessaline::ArchivedLog& log);

Q_SIGNALS:
    // A listing arrived (also when it lists the same logs).
    void logsChanged();
    void folderPathChanged();
    void changed();
    // A change failed: the sentence to show (the error's own).
    void changeFailed(const QString& message);

private:
    // A change to the archive, made on a worker through a provider of its own.
    using Change = std::function<void(const LogArchiveProvider&)>;
    // Lists the archive on a worker, after `change` (in order with earlier changes) if any.
    void startListing(Change change);
    void apply(quint64 generation, std::vector<tessaline::ArchivedLog> logs);

    const LogArchiveProvider& provider_;  // used on the main thread only
    Listing listing_;
    SerialQueue changes_;
    int changesRunning_ = 0;  // changes asked for whose listing has not come back
    quint64 requested_ = 0;  // the generation of the latest listing asked for
    quint64 applied_ = 0;    // the generation of the listing shown
    std::vector<tessaline::ArchivedLog> logs_;
    QString folderPath_;
    std::optional<QString> filingNotice_;
};

}  // namespace brindlecove
