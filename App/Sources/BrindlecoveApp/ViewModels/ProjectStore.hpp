#pragma once
// The job store: the user's jobs (shoots or productions under which logs are filed) and the
// active job. The interface says "Job"; the stored keys say "project". Every change is written
// through at once to the user defaults, where the log archive provider reads the active job
// on its workers. Main thread only.

#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include <QObject>
#include <QStringList>

#include <optional>

namespace brindlecove {

class ProjectStore : public QObject {
    Q_OBJECT
public:
    static inline const QString projectsKey = QStringLiteral("Brindlecove.projects");
    static inline const QString activeProjectKey = QStringLiteral("Brindlecove.activeProject");

    explicit ProjectStore(QObject* parent = nullptr);
    explicit ProjectStore(UserDefaults defaults, QObject* parent = nullptr);

    const QStringList& jobs() const { return jobs_; }
    const std::optional<QString>& activeJob() const { return activeJob_; }

    // Publishes the value as given and stores it trimmed ("" for none).
    void setActiveJob(std::optional<QString> job);

    // Trims the name; a blank name changes nothing and gives nullopt. Otherwise appends it
    // when not yet listed (exact comparison), makes it active and returns it.
    std::optional<QString> addJob(const QString& name);

    // Removes every entry equal to the name (no trimming) and clears the active job when it
    // is that name. Logs filed under the job are left alone (see LogStore::unfileLogs).
    void removeJob(const QString& name);

Q_SIGNALS:
    void jobsChanged();
    void activeJobChanged();
    void changed();

private:
    void persist();
    void storeActiveJob();

    UserDefaults defaults_;
    QStringList jobs_;
    std::optional<QString> activeJob_;
};

}  // namespace brindlecove
