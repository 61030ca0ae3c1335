#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"

namespace brindlecove {

MissingSyncViewModel::MissingSyncViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

MissingSyncViewModel::~MissingSyncViewModel() = default;

std::optional<QString> MissingSyncViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("rescue copy");
    return std::nullopt;
}

void MissingSyncViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

}  // namespace brindlecove
