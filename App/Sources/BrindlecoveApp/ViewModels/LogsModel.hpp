#pragma once
// What the Logs section shows and does, without widgets: the list of logs grouped by day or
// by job, the day titles ("Today", "Yesterday", the full date), the active job, filing a log
// under a job, deleting logs and jobs, the new-job question and the choice of the logs
// folder. Everything goes through the application's log store, job store and the log
// archive provider behind the log store; the model keeps only the grouping mode and the log
// waiting to be filed under a new job. Archive operations run on workers (through the log
// store); the list follows when they are done. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/Platform/FileRevealer.hpp"

#include "Tessaline/Report/ArchivedLog.hpp"

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace brindlecove {

class LogStore;
class ProjectStore;

class LogsModel : public QObject {
    Q_OBJECT
public:
    enum class GroupMode { date, job };
    static QString modeText(GroupMode mode);  // "By Date", "By Job"

    struct Dependencies {
        Dialogs dialogs;
        FileRevealer revealer;
        std::function<QDate()> today;  // none: the local date now
    };

    // One section of the list: a day (date mode) or a job with its logs (job mode).
    struct Section {
        QString key;    // the day key or the job's name ("Unfiled" for none)
        QString title;  // the day title, or the job's name
        std::vector<tessaline::ArchivedLog> logs;
        bool isJob = false;
        bool isUnfiled = false;
    };

    LogsModel(LogStore& store, ProjectStore& projects, Dependencies dependencies, QObject* parent = nullptr);

    LogStore& store() const { return store_; }
    ProjectStore& projects() const { return projects_; }

    GroupMode mode() const { return mode_; }
    void setMode(GroupMode mode);

    // The archive's first listing has not arrived: the section says it is loading.
    bool isLoading() const;
    // No logs and no jobs: the section shows its empty state instead of a list.
    bool isEmpty() const;
    std::vector<Section> sections() const;

    // "Today", "Yesterday", the locale's full date, or the key itself when it is no date.
    QString dayTitle(const QString& dayKey) const;
    // The active job's name, or "Unfiled".
    QString activeJobName() const;
    // The log's time of day in the locale's short style ("2:05 PM").
    static QString timeText(const tessaline::ArchivedLog& log);
    // The row's summary from the log's counts, in the user's number format ("10,005 confirmed
    // · 0 missing", duplicates only when there are any); the stored summary for a log
    // without the counts.
    static QString summaryText(const tessaline::ArchivedLog& log);
    // The log's job, or "Unfiled".
    static QString jobName(const tessaline::ArchivedLog& log);

    void setActiveJob(const std::optional<QString>& job);

    // The new-job question: opened for a log to file under the new job (or none), then
    // answered by createJob() or cancelNewJob(); both clear the waiting log.
    void beginNewJob(std::optional<tessaline::ArchivedLog> logToMove);
    const std::optional<tessaline::ArchivedLog>& pendingMoveLog() const { return pendingMoveLog_; }
    // Adds the job (trimmed; an existing name is made active, not doubled) and files the
    // waiting log under it. A blank name, or the reserved "Unfiled", creates nothing and
    // moves nothing. Returns the job made active.
    std::optional<QString> createJob(const QString& name);
    void cancelNewJob();

    // Files the log under the job (none: "Unfiled"); a failure becomes message() and the
    // list shows the log where it really is.
    void fileLog(const tessaline::ArchivedLog& log, const std::optional<QString>& job);
    // Removes the log's folder, then re-lists; a failure (the log changed since it was
    // listed, a removal error) becomes message().
    void deleteLog(const tessaline::ArchivedLog& log);
    // Files the job's logs under none, then removes the job. Never deletes a log.
    void deleteJob(const QString& job);

    // Opens the log's primary file; when it has none, or nothing on the desktop opens it,
    // message() says so, naming the path.
    void openLog(const tessaline::ArchivedLog& log);
    // Shows the log's primary file (its folder when it has none) in the file manager; when
    // none could, message() says so, naming the path.
    void revealLog(const tessaline::ArchivedLog& log);
    // Opens the archive's folder (created when missing) in the file manager, once a worker
    // has found (and made) it; when nothing could, message() says so.
    void revealArchiveFolder();

    // What the latest action on a log could not do, as the saving bar shows it; cleared when
    // the next action starts.
    const std::optional<QString>& message() const { return message_; }
    // "Save Logs Here": asks for a folder and stores its grant and display path; a
    // cancelled panel changes nothing. The list is re-listed at the new place; nothing is
    // moved from the old one.
    void chooseFolder();
    void refresh();

Q_SIGNALS:
    // The logs, the jobs, the active job, the folder or the mode changed.
    void changed();

private:
    LogStore& store_;
    ProjectStore& projects_;
    Dependencies dependencies_;
    GroupMode mode_ = GroupMode::date;
    void setMessage(std::optional<QString> message);
    // A failure function for the revealer that shows `sentence`, unless the model is gone.
    FileRevealer::Failed whenNothingCould(const QString& sentence);

    std::optional<tessaline::ArchivedLog> pendingMoveLog_;
    std::optional<QString> message_;
};

}  // namespace brindlecove
