#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"

#include <algorithm>

namespace brindlecove {

ErasedReports::ErasedReports(QObject* parent) : QObject(parent) {}

bool ErasedReports::add(const ReportPtr& report) {
    if (!report || contains(report)) return false;
    std::erase_if(reports_, [](const auto& held) { return held.expired(); });
    reports_.push_back(report);
    Q_EMIT changed();
    return true;
}

void ErasedReports::remove(const ReportPtr& report) {
    if (!report) return;
    const auto gone = std::erase_if(reports_, [&](const auto& held) { return held.lock() == report; });
    if (gone > 0) Q_EMIT changed();
}

bool ErasedReports::contains(const tessaline::VerificationReport* report) const {
    if (!report) return false;
    return std::any_of(reports_.begin(), reports_.end(), [&](const auto& held) {
        const auto alive = held.lock();
        return alive && alive.get() == report;
    });
}

}  // namespace brindlecove
