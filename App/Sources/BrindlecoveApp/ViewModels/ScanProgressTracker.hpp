#pragma once
// The progress bookkeeping of one scan run: which stage the chart and the estimate belong
// to, the chart's points (at most 120, newest kept), the estimate for the rest of the
// current stage, the files fingerprinted so far over every card and drive stage, and the
// resume banner. Fed by the scan view model's event handling; a plain value, main thread.

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace brindlecove {

// One point of the per-stage progress chart.
struct ProgressPoint {
    quint64 id = 0;        // unique within the process; identity only
    double elapsed = 0;    // seconds since the stage (or the verification) began
    int completed = 0;     // items done in the stage at that moment
    bool operator==(const ProgressPoint&) const = default;
};

class ScanProgressTracker {
public:
    static constexpr int maxPoints = 120;

    // Clears everything but the resume banner.
    void reset();
    // Makes `stageID` the current stage; a different id empties the chart and drops the
    // estimate, the same id changes nothing.
    void beginStage(const QString& stageID);
    // A card or drive stage's progress: its latest count replaces the stage's earlier one in
    // the files-searched total, then a chart point is added.
    void recordProgress(const QString& stageID, int completed, int total, double elapsed);
    // Adds a chart point and recomputes the estimate; nothing at all when total < 1.
    void recordGraph(int completed, int total, double elapsed);

    // The banner "Resuming “<source>” — <cached> of <total> files already checked", both
    // counts with the user's locale's digit grouping.
    void setResume(const QString& sourceLabel, qint64 cached, qint64 total);
    void clearResume() { resumeBanner_.reset(); }

    const QList<ProgressPoint>& history() const { return history_; }
    std::optional<double> estimatedSecondsRemaining() const { return estimate_; }
    int totalFilesSearched() const { return totalFilesSearched_; }
    const std::optional<QString>& resumeBanner() const { return resumeBanner_; }
    const std::optional<QString>& currentStageID() const { return currentStageID_; }

private:
    QList<ProgressPoint> history_;
    std::optional<double> estimate_;
    int totalFilesSearched_ = 0;
    std::optional<QString> resumeBanner_;
    QMap<QString, int> completedByStage_;
    std::optional<QString> currentStageID_;
};

}  // namespace brindlecove
