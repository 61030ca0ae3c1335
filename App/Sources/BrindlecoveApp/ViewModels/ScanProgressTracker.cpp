#include "BrindlecoveApp/ViewModels/ScanProgressTracker.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include <QLocale>

#include <atomic>
#include <cmath>

namespace brindlecove {

namespace {

quint64 nextPointID() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}

}  // namespace

void ScanProgressTracker::reset() {
    history_.clear();
    estimate_.reset();
    completedByStage_.clear();
    totalFilesSearched_ = 0;
    currentStageID_.reset();
}

void ScanProgressTracker::beginStage(const QString& stageID) {
    if (currentStageID_ == stageID) return;
    currentStageID_ = stageID;
    history_.clear();
    estimate_.reset();
}

void ScanProgressTracker::recordProgress(const QString& stageID, int completed, int total, double elapsed) {
    beginStage(stageID);
    completedByStage_[stageID] = completed;
    qint64 sum = 0;
    for (int value : std::as_const(completedByStage_)) sum += value;
    totalFilesSearched_ = static_cast<int>(sum);
    recordGraph(completed, total, elapsed);
}

void ScanProgressTracker::recordGraph(int completed, int total, double elapsed) {
    if (total < 1) return;
    history_.append(ProgressPoint{nextPointID(), elapsed, completed});
    if (history_.size() > maxPoints) history_.erase(history_.begin(), history_.end() - maxPoints);
    if (std::isnan(elapsed) || elapsed < 2.0 || completed < 20) {
        estimate_.reset();
        return;
    }
    const qint64 remaining = qint64(total) - completed;
    if (remaining < 1) {
        estimate_ = 0.0;
        return;
    }
    const double rate = double(completed) / elapsed;
    estimate_ = double(remaining) / rate;
}

void ScanProgressTracker::setResume(const QString& sourceLabel, qint64 cached, qint64 total) {
    const QLocale locale;
    resumeBanner_ = QStringLiteral("Resuming \u201C") + sourceLabel + QStringLiteral("\u201D \u2014 ") +
                    locale.toString(cached) + QStringLiteral(" of ") + locale.toString(total) + QStringLiteral(" ") +
                    Formats::noun(total, "file", "files") + QStringLiteral(" already checked");
}

}  // namespace brindlecove
