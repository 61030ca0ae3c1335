#include "BrindlecoveApp/ViewModels/LogStore.hpp"

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <map>

namespace brindlecove {

LogStore::LogStore(QObject* parent) : LogStore(LogArchiveProvider::shared(), parent) {}

LogStore::LogStore(const LogArchiveProvider& provider, QObject* parent) : QObject(parent), provider_(provider) {
    Q_ASSERT(MainThread::isCurrent());
    folderPath_ = provider_.displayPath();
    refresh();
    // Queued even when posted on the main thread; the connection dies with the store.
    connect(&AppEvents::instance(), &AppEvents::logArchived, this, &LogStore::refresh, Qt::QueuedConnection);
}

void LogStore::refresh() {
    {
        ArchiveAccess access = provider_.resolve();
        logs_ = access->list();
    }
    Q_EMIT logsChanged();
    QString path = provider_.displayPath();
    std::optional<QString> notice = provider_.filingNotice();
    if (path != folderPath_ || notice != filingNotice_) {
        folderPath_ = path;
        filingNotice_ = std::move(notice);
        Q_EMIT folderPathChanged();
    }
    Q_EMIT changed();
}

std::vector<LogGroup> LogStore::groupedByDay() const {
    std::vector<LogGroup> groups;
    std::map<std::string, size_t> indexOfDay;
    for (const tessaline::ArchivedLog& log : logs_) {
        std::string day = log.dayKey();
        auto [it, inserted] = indexOfDay.emplace(day, groups.size());
        if (inserted) groups.emplace_back(QString::fromStdString(day), std::vector<tessaline::ArchivedLog>{});
        groups[it->second].second.push_back(log);
    }
    std::stable_sort(groups.begin(), groups.end(), [](const LogGroup& a, const LogGroup& b) {
        return a.first.toStdString() > b.first.toStdString();
    });
    return groups;
}

std::vector<LogGroup> LogStore::groupedByJob(const QStringList& includingEmpty) const {
    std::vector<LogGroup> groups;
    auto groupNamed = [&](const QString& name) -> std::vector<tessaline::ArchivedLog>& {
        for (LogGroup& group : groups)
            if (group.first == name) return group.second;
        groups.emplace_back(name, std::vector<tessaline::ArchivedLog>{});
        return groups.back().second;
    };
    for (const tessaline::ArchivedLog& log : logs_) groupNamed(QString::fromStdString(log.projectKey())).push_back(log);
    for (const QString& job : includingEmpty) groupNamed(job);

    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(groups.begin(), groups.end(), [&](const LogGroup& a, const LogGroup& b) {
        bool aUnfiled = a.first == unfiledName;
        bool bUnfiled = b.first == unfiledName;
        if (aUnfiled != bUnfiled) return bUnfiled;
        return collator.compare(a.first, b.first) < 0;
    });
    for (LogGroup& group : groups)
        std::stable_sort(group.second.begin(), group.second.end(),
                         [](const tessaline::ArchivedLog& a, const tessaline::ArchivedLog& b) { return a.date > b.date; });
    return groups;
}

void LogStore::unfileLogs(const QString& job) {
    const std::string name = job.toStdString();
    for (const tessaline::ArchivedLog& log : logs_) {
        if (log.projectKey() != name) continue;
        try {
            ArchiveAccess access = provider_.resolve();
            access->setProject(log, std::nullopt);
        } catch (const std::exception& error) {
            qWarning("Couldn't unfile a log: %s", error.what());
        }
    }
    refresh();
}

bool LogStore::moveLog(const tessaline::ArchivedLog& log, const std::optional<QString>& job) {
    bool moved = true;
    try {
        ArchiveAccess access = provider_.resolve();
        access->setProject(log, job ? std::optional<std::string>(job->toStdString()) : std::nullopt);
    } catch (const std::exception& error) {
        qWarning("Couldn't move a log to another job: %s", error.what());
        moved = false;
    }
    refresh();
    return moved;
}

void LogStore::deleteLog(const tessaline::ArchivedLog& log) {
    provider_.deleteLog(log);
    refresh();
}

}  // namespace brindlecove
