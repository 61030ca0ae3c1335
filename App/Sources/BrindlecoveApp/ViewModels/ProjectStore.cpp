#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"

namespace brindlecove {

ProjectStore::ProjectStore(QObject* parent) : ProjectStore(UserDefaults::standard(), parent) {}

ProjectStore::ProjectStore(UserDefaults defaults, QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)) {
    jobs_ = defaults_.stringList(projectsKey).value_or(QStringList{});
    std::optional<QString> stored = defaults_.string(activeProjectKey);
    if (stored && !stored->isEmpty()) activeJob_ = *stored;
    // Stored once, so an untrimmed value is rewritten trimmed and an absent key becomes "".
    storeActiveJob();
}

void ProjectStore::setActiveJob(std::optional<QString> job) {
    activeJob_ = std::move(job);
    storeActiveJob();
    Q_EMIT activeJobChanged();
    Q_EMIT changed();
}

std::optional<QString> ProjectStore::addJob(const QString& name) {
    QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    if (!jobs_.contains(trimmed)) {
        jobs_.append(trimmed);
        persist();
        Q_EMIT jobsChanged();
    }
    setActiveJob(trimmed);
    return trimmed;
}

void ProjectStore::removeJob(const QString& name) {
    bool removed = jobs_.removeAll(name) > 0;
    if (activeJob_ && *activeJob_ == name) setActiveJob(std::nullopt);
    persist();
    if (removed) {
        Q_EMIT jobsChanged();
        Q_EMIT changed();
    }
}

void ProjectStore::persist() { defaults_.setValue(projectsKey, jobs_); }

void ProjectStore::storeActiveJob() {
    defaults_.setValue(activeProjectKey, activeJob_ ? activeJob_->trimmed() : QString());
}

}  // namespace brindlecove
