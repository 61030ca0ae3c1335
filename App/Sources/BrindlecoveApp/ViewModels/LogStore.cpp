#include "BrindlecoveApp/ViewModels/LogStore.hpp"

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"

#include <QCollator>
#include <QLocale>
#include <QPointer>

#include <algorithm>
#include <exception>
#include <map>

namespace brindlecove {

LogStore::LogStore(QObject* parent) : LogStore(LogArchiveProvider::shared(), parent) {}

LogStore::LogStore(const LogArchiveProvider& provider, QObject* parent)
    : LogStore(provider, [](const tessaline::LogArchive& archive) { return archive.list(); }, parent) {}

LogStore::LogStore(const LogArchiveProvider& provider, Listing listing, QObject* parent)
    : QObject(parent), provider_(provider), listing_(std::move(listing)) {
    Q_ASSERT(MainThread::isCurrent());
    folderPath_ = provider_.displayPath();
    refresh();
    // Queued even when posted on the main thread; the connection dies with the store.
    connect(&AppEvents::instance(), &AppEvents::logArchived, this, &LogStore::refresh, Qt::QueuedConnection);
}

void LogStore::refresh() { startListing({}); }

void LogStore::startListing(Change change) {
    Q_ASSERT(MainThread::isCurrent());
    const quint64 generation = ++requested_;
    const bool isChange = static_cast<bool>(change);
    auto work = [self = QPointer<LogStore>(this), generation, isChange, defaults = provider_.defaultsSource(),
                 listing = listing_, change = std::move(change)] {
        std::vector<tessaline::ArchivedLog> logs;
        std::optional<QString> failure;
        try {
            const LogArchiveProvider provider(defaults);
            if (change) {
                try {
                    change(provider);
                } catch (const std::exception& error) {
                    qWarning("Couldn't change the logs: %s", error.what());
                    failure = QString::fromStdString(error.what());
                }
            }
            ArchiveAccess access = provider.resolve();
            logs = listing(access.archive());
        } catch (const std::exception& error) {
            qWarning("Couldn't list the logs: %s", error.what());
        } catch (...) {
            qWarning("Couldn't list the logs");
        }
        // Always posted, so that the store never waits for a listing that is gone.
        MainThread::post([self, generation, isChange, logs = std::move(logs), failure]() mutable {
            if (!self) return;
            if (isChange) --self->changesRunning_;
            self->apply(generation, std::move(logs));
            if (failure) Q_EMIT self->changeFailed(*failure);
        });
    };
    // A listing asked for after a change lists after it. Otherwise a listing needs no order:
    // a newer one may pass an older one stuck on a drive that stopped answering (the logs
    // folder may have been changed since).
    if (isChange || changesRunning_ > 0) {
        if (isChange) ++changesRunning_;
        changes_.add(std::move(work));
    } else {
        Executor::shared().utility(std::move(work));
    }
}

void LogStore::apply(quint64 generation, std::vector<tessaline::ArchivedLog> logs) {
    if (generation <= applied_) return;  // a newer listing is already shown
    applied_ = generation;
    logs_ = std::move(logs);
    Q_EMIT logsChanged();
    // The listing may have renewed the folder's bookmark and display path.
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
    std::vector<tessaline::ArchivedLog> filed;
    for (const tessaline::ArchivedLog& log : logs_)
        if (log.projectKey() == name) filed.push_back(log);
    startListing([filed = std::move(filed)](const LogArchiveProvider& provider) {
        // Every log is tried; the first failure is the one told.
        std::exception_ptr first;
        for (const tessaline::ArchivedLog& log : filed) {
            try {
                ArchiveAccess access = provider.resolve();
                access->setProject(log, std::nullopt);
            } catch (const std::exception&) {
                if (!first) first = std::current_exception();
            }
        }
        if (first) std::rethrow_exception(first);
    });
}

void LogStore::moveLog(const tessaline::ArchivedLog& log, const std::optional<QString>& job) {
    std::optional<std::string> project = job ? std::optional<std::string>(job->toStdString()) : std::nullopt;
    startListing([log, project = std::move(project)](const LogArchiveProvider& provider) {
        ArchiveAccess access = provider.resolve();
        access->setProject(log, project);
    });
}

void LogStore::deleteLog(const tessaline::ArchivedLog& log) {
    startListing([log](const LogArchiveProvider& provider) { provider.deleteLog(log); });
}

}  // namespace brindlecove
