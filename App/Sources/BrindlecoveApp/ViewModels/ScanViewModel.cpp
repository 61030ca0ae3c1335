#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"

namespace brindlecove {

ScanViewModel::ScanViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

ScanViewModel::~ScanViewModel() = default;

std::optional<QString> ScanViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("scan");
    return std::nullopt;
}

void ScanViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

void ScanViewModel::setLastReport(std::shared_ptr<const tessaline::VerificationReport> report) {
    if (report == lastReport_) return;
    lastReport_ = std::move(report);
    Q_EMIT lastReportChanged();
}

}  // namespace brindlecove
