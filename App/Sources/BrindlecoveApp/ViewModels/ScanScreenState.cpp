#include "BrindlecoveApp/ViewModels/ScanScreenState.hpp"

#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"

namespace brindlecove {

bool ScanScreenState::isRunning() const {
    return std::holds_alternative<scan_phase::ScanningCard>(phase) ||
           std::holds_alternative<scan_phase::ScanningDrive>(phase) ||
           std::holds_alternative<scan_phase::Matching>(phase) || std::holds_alternative<scan_phase::Verifying>(phase);
}

ScanScreenState::Summary ScanScreenState::summaryOf(const tessaline::VerificationReport& report) {
    Summary summary;
    summary.confirmed = int(report.confirmed().size());
    summary.missing = int(report.missing().size());
    summary.duplicates = int(report.duplicates().size());
    summary.nameMismatches = int(report.nameMismatches().size());
    summary.unreadableCardFolders = int(report.unreadableCardFolders.size());
    summary.otherFilesOnlyOnCard = ReportTexts::otherFilesOnlyOnCardLine(report);
    return summary;
}

ScanScreenState ScanScreenState::of(const ScanViewModel& model, SummaryCache& cache) {
    ScanScreenState state;
    state.phase = model.phase();
    state.canStartScan = model.canStartScan();
    state.isStopping = model.isStopping();
    state.cardPath = model.cardPath();
    state.resumeBanner = model.resumeBanner();
    state.progressHistory = model.progressHistory();
    state.estimatedSecondsRemaining = model.estimatedSecondsRemaining();
    state.totalFilesSearched = model.totalFilesSearched();
    if (auto report = model.lastReport()) {
        if (cache.report != report) cache = {report, summaryOf(*report)};
        state.lastReport = cache.summary;
    }
    for (const QString& label : model.skippedDriveLabels())
        (model.skippedOnCardLabels().contains(label) ? state.skippedOnCardLabels : state.skippedDriveLabels) << label;
    state.filingNotice = model.filingNotice();
    state.reportTextNotice = model.reportTextNotice();
    state.grantedDriveLabels = model.grantedDriveLabels();
    state.selectedDriveLabels = model.selectedDriveLabels();
    state.includeAllFiles = model.includeAllFiles();
    return state;
}

}  // namespace brindlecove
