#pragma once
// Everything the Scan section shows, read from the scan view model in one go, so the
// section draws from one consistent value (and tests draw it from values of their own).
// Plain value; main thread.

#include "BrindlecoveApp/ViewModels/ScanProgressTracker.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace brindlecove {

struct ScanScreenState {
    // The counts of the last report that the result summary shows.
    struct Summary {
        int confirmed = 0;
        int missing = 0;
        int duplicates = 0;
        int nameMismatches = 0;
        int unreadableCardFolders = 0;
        // The card's other files found on no drive, with their first names; empty without any.
        QString otherFilesOnlyOnCard;
        bool operator==(const Summary&) const = default;
    };

    ScanPhase phase = scan_phase::Idle{};
    bool canStartScan = false;
    bool isStopping = false;
    std::optional<QString> cardPath;
    std::optional<QString> resumeBanner;
    QList<ProgressPoint> progressHistory;
    std::optional<double> estimatedSecondsRemaining;
    int totalFilesSearched = 0;
    std::optional<Summary> lastReport;
    QStringList skippedDriveLabels;    // skipped as not mounted (or unreadable) right now
    QStringList skippedOnCardLabels;   // skipped because the drive lies on the card itself
    std::optional<QString> filingNotice;
    std::optional<QString> reportTextNotice;
    QStringList grantedDriveLabels;   // in the grants file's order
    QStringList selectedDriveLabels;
    bool includeAllFiles = false;

    // Scanning, matching or verifying.
    bool isRunning() const;

    // The report last summarised, so a redraw does not recount an unchanged report.
    struct SummaryCache {
        std::shared_ptr<const tessaline::VerificationReport> report;
        Summary summary;
    };

    static ScanScreenState of(const ScanViewModel& model, SummaryCache& cache);
    static Summary summaryOf(const tessaline::VerificationReport& report);
};

}  // namespace brindlecove
