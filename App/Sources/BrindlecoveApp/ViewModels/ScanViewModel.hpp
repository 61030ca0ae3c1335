#pragma once
// The scan of a card against the granted drives, from the card panel to the published
// verification report that the Report and Erase Card sections read. One per window.
// Main thread; the run itself (ScanRun) happens on the user-initiated pool and reports back
// through queued calls, applied first in, first out; the result comes after every event.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"
#include "BrindlecoveApp/ViewModels/ScanEvent.hpp"
#include "BrindlecoveApp/ViewModels/ScanProgressTracker.hpp"
#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace brindlecove {

namespace scan_phase {
struct Idle {
    bool operator==(const Idle&) const = default;
};
struct ScanningCard {
    MediaKind kind = MediaKind::photos;
    int completed = 0;
    int total = 0;
    bool operator==(const ScanningCard&) const = default;
};
struct ScanningDrive {
    QString label;
    MediaKind kind = MediaKind::photos;
    int completed = 0;
    int total = 0;
    bool operator==(const ScanningDrive&) const = default;
};
struct Verifying {
    int completed = 0;
    int total = 0;
    ProofPart part = ProofPart::clips;
    bool operator==(const Verifying&) const = default;
};
struct Failed {
    QString message;
    bool operator==(const Failed&) const = default;
};
struct Matching {
    bool operator==(const Matching&) const = default;
};
struct Done {
    bool operator==(const Done&) const = default;
};
}  // namespace scan_phase

using ScanPhase = std::variant<scan_phase::ScanningCard, scan_phase::ScanningDrive, scan_phase::Verifying,
                               scan_phase::Failed, scan_phase::Idle, scan_phase::Matching, scan_phase::Done>;

class ScanViewModel : public QObject {
    Q_OBJECT
public:
    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
        // The run's engine seams (grants file, metadata reader, cache opener, threads).
        ScanRun::Environment environment;
    };

    static inline const QString noDrivesMessage = QStringLiteral(
        "No drives granted \u2014 add one in Settings before scanning, or the Missing list will just be "
        "everything on the card.");

    explicit ScanViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~ScanViewModel() override;

    // "scan" while a run is in progress, for the window's close check.
    std::optional<QString> runningNoun() const;
    // Stops the current run (sets its cancellation flag); nothing when none runs.
    void stop();
    // The report of the last finished scan; null before the first one.
    std::shared_ptr<const tessaline::VerificationReport> lastReport() const { return lastReport_; }
    // Publishes `report` as the last report (the scan run does this; tests too).
    void setLastReport(std::shared_ptr<const tessaline::VerificationReport> report);
    // The reports published in this session, oldest first, the latest of each card only: a
    // report of the same card folder and volume as an earlier one takes its place.
    const std::vector<std::shared_ptr<const tessaline::VerificationReport>>& sessionReports() const {
        return sessionReports_;
    }

    // Published state.
    const std::optional<QString>& cardPath() const { return cardPath_; }
    const ScanPhase& phase() const { return phase_; }
    // A run is under way: the phase is scanning, matching or verifying.
    bool isRunning() const;
    bool canStartScan() const;
    bool isStopping() const { return isStopping_; }
    const QStringList& skippedDriveLabels() const { return skippedDriveLabels_; }
    // Those of skippedDriveLabels() whose drive is the card itself or a folder on it.
    const QStringList& skippedOnCardLabels() const { return skippedOnCardLabels_; }
    // Set when the last run's log could not be filed where the Logs section says logs are
    // saved: where it went and why. Cleared when the next run starts.
    const std::optional<QString>& filingNotice() const { return filingNotice_; }
    // Set when the last run's report text could not be written to the reports folder, with
    // the reason. Cleared when the next run starts.
    const std::optional<QString>& reportTextNotice() const { return reportTextNotice_; }
    const QList<ProgressPoint>& progressHistory() const { return tracker_.history(); }
    std::optional<double> estimatedSecondsRemaining() const { return tracker_.estimatedSecondsRemaining(); }
    int totalFilesSearched() const { return tracker_.totalFilesSearched(); }
    const std::optional<QString>& resumeBanner() const { return tracker_.resumeBanner(); }
    // The drives chosen in the Scan section (no order of its own); empty: all granted drives.
    const QStringList& selectedDriveLabels() const { return selectedDriveLabels_; }
    bool isDriveSelected(const QString& label) const { return selectedDriveLabels_.contains(label); }
    bool includeAllFiles() const { return includeAllFiles_; }
    // The labels of the granted drives, read afresh from the grants file, in its order.
    QStringList grantedDriveLabels() const;

    // Asks for the card or folder to check (the panel opens where removable volumes mount);
    // sets the card and the idle phase. A cancelled panel changes nothing; nothing while a
    // run is in progress.
    void pickCard();
    // Sets the card as the panel would (tests, the screenshot tool).
    void setCardPath(const QString& path);
    void setDriveSelected(const QString& label, bool selected);
    void setIncludeAllFiles(bool on);
    // Starts a run when canStartScan holds; `fresh` reads every file again. The preamble is
    // synchronous, so a second click in the same turn starts nothing.
    void startScan(bool fresh);
    // Stop: sets the run's flag and isStopping; nothing when no run is in progress.
    void cancel();

Q_SIGNALS:
    void lastReportChanged();
    // Any published value changed (phase, progress, selection, ...).
    void changed();

private:
    void handle(const ScanEvent& event);
    void finishRun(quint64 runID, ScanOutcome outcome);
    void saveReportTextIfConfigured(quint64 runID, const tessaline::VerificationReport& report);
    std::vector<std::string> labelsToScan() const;
    void setPhase(ScanPhase phase);
    void rememberReport(const std::shared_ptr<const tessaline::VerificationReport>& report);

    Dependencies dependencies_;
    RunControl runs_{this};
    std::optional<QString> cardPath_;
    ScanPhase phase_ = scan_phase::Idle{};
    std::shared_ptr<const tessaline::VerificationReport> lastReport_;
    std::vector<std::shared_ptr<const tessaline::VerificationReport>> sessionReports_;
    QStringList skippedDriveLabels_;
    QStringList skippedOnCardLabels_;
    std::optional<QString> filingNotice_;
    std::optional<QString> reportTextNotice_;
    QStringList selectedDriveLabels_;
    bool includeAllFiles_ = false;
    bool isStopping_ = false;
    ScanProgressTracker tracker_;
};

}  // namespace brindlecove
