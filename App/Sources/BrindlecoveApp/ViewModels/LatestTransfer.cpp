#include "BrindlecoveApp/ViewModels/LatestTransfer.hpp"

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"

namespace brindlecove {

LatestTransfer::LatestTransfer(CopyViewModel* copy, MissingSyncViewModel* rescue, QObject* parent) : QObject(parent) {
    if (copy) {
        lastLog_ = copy->lastLog();
        connect(copy, &CopyViewModel::lastLogChanged, this, [this, copy] { take(copy->lastLog()); });
    }
    if (rescue) {
        if (!lastLog_) lastLog_ = rescue->lastLog();
        connect(rescue, &MissingSyncViewModel::lastLogChanged, this, [this, rescue] { take(rescue->lastLog()); });
    }
}

void LatestTransfer::take(std::shared_ptr<const tessaline::TransferLog> log) {
    if (!log || log == lastLog_) return;
    lastLog_ = std::move(log);
    Q_EMIT lastLogChanged();
}

}  // namespace brindlecove
