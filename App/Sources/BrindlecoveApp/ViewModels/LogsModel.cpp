#include "BrindlecoveApp/ViewModels/LogsModel.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/Platform/PanelFolder.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"
#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>

#include <algorithm>

namespace brindlecove {

QString LogsModel::modeText(GroupMode mode) {
    return mode == GroupMode::date ? QStringLiteral("By Date") : QStringLiteral("By Job");
}

LogsModel::LogsModel(LogStore& store, ProjectStore& projects, Dependencies dependencies, QObject* parent)
    : QObject(parent), store_(store), projects_(projects), dependencies_(std::move(dependencies)) {
    connect(&store_, &LogStore::changed, this, &LogsModel::changed);
    connect(&projects_, &ProjectStore::changed, this, &LogsModel::changed);
    connect(&store_, &LogStore::changeFailed, this, [this](const QString& message) { setMessage(message); });
}

void LogsModel::setMode(GroupMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    Q_EMIT changed();
}

bool LogsModel::isLoading() const { return !store_.hasListed(); }

bool LogsModel::isEmpty() const { return store_.logs().empty() && projects_.jobs().isEmpty(); }

std::vector<LogsModel::Section> LogsModel::sections() const {
    std::vector<Section> result;
    if (mode_ == GroupMode::date) {
        for (LogGroup& group : store_.groupedByDay())
            result.push_back(Section{group.first, dayTitle(group.first), std::move(group.second), false, false});
    } else {
        for (LogGroup& group : store_.groupedByJob(projects_.jobs())) {
            bool unfiled = group.first == LogStore::unfiledName;
            result.push_back(Section{group.first, group.first, std::move(group.second), true, unfiled});
        }
    }
    return result;
}

QString LogsModel::dayTitle(const QString& dayKey) const {
    QDate date = QDate::fromString(dayKey, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid()) return dayKey;
    QDate today = dependencies_.today ? dependencies_.today() : QDate::currentDate();
    if (date == today) return QStringLiteral("Today");
    if (date == today.addDays(-1)) return QStringLiteral("Yesterday");
    return QLocale().toString(date, QLocale::LongFormat);
}

QString LogsModel::activeJobName() const { return projects_.activeJob().value_or(LogStore::unfiledName); }

QString LogsModel::timeText(const tessaline::ArchivedLog& log) {
    QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(log.date * 1000.0)).toLocalTime();
    return QLocale().toString(when.time(), QLocale::ShortFormat);
}

QString LogsModel::summaryText(const tessaline::ArchivedLog& log) {
    const auto& counts = log.counts;
    auto has = [&](std::initializer_list<const char*> keys) {
        return std::all_of(keys.begin(), keys.end(), [&](const char* key) { return counts.count(key) > 0; });
    };
    auto of = [&](const char* key) {
        auto it = counts.find(key);
        return it == counts.end() ? qint64(0) : qint64(it->second);
    };
    auto n = [&](const char* key) { return Formats::groupedInteger(of(key)); };
    const QString dot = QStringLiteral(" · ");
    if (log.kind == tessaline::LogKind::verify && has({"confirmed", "missing"})) {
        QString text = n("confirmed") + QStringLiteral(" confirmed") + dot + n("missing") + QStringLiteral(" missing");
        if (of("duplicates") > 0) text += dot + Formats::count(of("duplicates"), "duplicate", "duplicates");
        if (of("otherFilesOnlyOnCard") > 0) text += dot + n("otherFilesOnlyOnCard") + QStringLiteral(" other only on card");
        return text;
    }
    if (log.kind == tessaline::LogKind::transfer && has({"verified", "present", "failed"})) {
        QString text = n("verified") + QStringLiteral(" verified") + dot + n("present") + QStringLiteral(" present") + dot +
                       n("failed") + QStringLiteral(" failed");
        if (of("notProvenOnCard") > 0) text += dot + n("notProvenOnCard") + QStringLiteral(" not proven on card");
        return text;
    }
    return QString::fromStdString(log.summary);
}

QString LogsModel::jobName(const tessaline::ArchivedLog& log) {
    return log.project ? QString::fromStdString(*log.project) : LogStore::unfiledName;
}

void LogsModel::setActiveJob(const std::optional<QString>& job) { projects_.setActiveJob(job); }

void LogsModel::beginNewJob(std::optional<tessaline::ArchivedLog> logToMove) { pendingMoveLog_ = std::move(logToMove); }

std::optional<QString> LogsModel::createJob(const QString& name) {
    std::optional<tessaline::ArchivedLog> pending = std::move(pendingMoveLog_);
    pendingMoveLog_.reset();
    // "Unfiled" names the absence of a job: a job of that name would merge with the logs
    // without one and could never be deleted (its group has no menu).
    if (name.trimmed() == LogStore::unfiledName) return std::nullopt;
    std::optional<QString> job = projects_.addJob(name);
    if (job && pending) fileLog(*pending, job);
    return job;
}

void LogsModel::cancelNewJob() { pendingMoveLog_.reset(); }

void LogsModel::fileLog(const tessaline::ArchivedLog& log, const std::optional<QString>& job) {
    setMessage(std::nullopt);
    store_.moveLog(log, job);
}

void LogsModel::deleteLog(const tessaline::ArchivedLog& log) {
    setMessage(std::nullopt);
    store_.deleteLog(log);
}

void LogsModel::deleteJob(const QString& job) {
    setMessage(std::nullopt);
    store_.unfileLogs(job);
    projects_.removeJob(job);
}

void LogsModel::setMessage(std::optional<QString> message) {
    if (message == message_) return;
    message_ = std::move(message);
    Q_EMIT changed();
}

FileRevealer::Failed LogsModel::whenNothingCould(const QString& sentence) {
    return [self = QPointer<LogsModel>(this), sentence] {
        if (self) self->setMessage(sentence);
    };
}

void LogsModel::openLog(const tessaline::ArchivedLog& log) {
    setMessage(std::nullopt);
    if (log.primaryFile.empty()) {
        setMessage(QStringLiteral("This log has no file to open in %1.").arg(qtPath(log.directory)));
        return;
    }
    const QString path = qtPath(log.primaryFile);
    if (dependencies_.revealer.open)
        dependencies_.revealer.open(path, whenNothingCould(QStringLiteral("No application could open %1.").arg(path)));
}

void LogsModel::revealLog(const tessaline::ArchivedLog& log) {
    setMessage(std::nullopt);
    // A log without a primary file is shown by its folder.
    const QString path = qtPath(log.primaryFile.empty() ? log.directory : log.primaryFile);
    if (dependencies_.revealer.reveal)
        dependencies_.revealer.reveal(path, whenNothingCould(QStringLiteral("No file manager could show %1.").arg(path)));
}

void LogsModel::revealArchiveFolder() {
    setMessage(std::nullopt);
    // Resolving the archive and making its folder may wait on a drive that stopped answering.
    Executor::shared().utility([self = QPointer<LogsModel>(this), defaults = store_.provider().defaultsSource()] {
        const std::filesystem::path base = LogArchiveProvider(defaults).currentBaseURL();
        MainThread::post([self, base] {
            if (!self || !self->dependencies_.revealer.open) return;
            const QString path = qtPath(base);
            self->dependencies_.revealer.open(
                path, self->whenNothingCould(QStringLiteral("No file manager could open %1.").arg(path)));
        });
    });
}

void LogsModel::chooseFolder() {
    if (!dependencies_.dialogs.chooseFolder) return;
    FolderRequest request;
    request.prompt = QStringLiteral("Save Logs Here");
    request.message = QStringLiteral("Choose where Brindlecove saves scan and transfer logs.");
    request.canCreateFolders = true;
    // At the folder chosen before (the archive is its "Brindlecove Logs" subfolder), else home.
    if (std::optional<QString> shown = store_.provider().defaultsSource()().string(LogArchiveProvider::pathKey)) {
        const QFileInfo archive(*shown);
        request.startFolder = archive.fileName() == LogArchiveProvider::subfolder ? archive.path() : *shown;
    }
    request.startFolder = PanelFolder::orHome(request.startFolder);
    std::optional<QString> folder = dependencies_.dialogs.chooseFolder(request);
    if (!folder || folder->isEmpty()) return;
    // A folder whose grant can't be made stores nothing: the archive stays where it was.
    store_.provider().chooseFolder(std::filesystem::path(QFile::encodeName(*folder).toStdString()));
    store_.refresh();
}

void LogsModel::refresh() { store_.refresh(); }

}  // namespace brindlecove
