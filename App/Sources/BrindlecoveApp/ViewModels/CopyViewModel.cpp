#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"

namespace brindlecove {

CopyViewModel::CopyViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

CopyViewModel::~CopyViewModel() = default;

std::optional<QString> CopyViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("copy");
    return std::nullopt;
}

void CopyViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

}  // namespace brindlecove
