#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"

namespace brindlecove {

DriveFormatViewModel::DriveFormatViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

DriveFormatViewModel::~DriveFormatViewModel() = default;

std::optional<QString> DriveFormatViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("reformat");
    return std::nullopt;
}

void DriveFormatViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

}  // namespace brindlecove
