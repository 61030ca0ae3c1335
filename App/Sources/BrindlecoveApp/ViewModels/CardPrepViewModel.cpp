#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"

namespace brindlecove {

CardPrepViewModel::CardPrepViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

CardPrepViewModel::~CardPrepViewModel() = default;

std::optional<QString> CardPrepViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("card erase");
    return std::nullopt;
}

void CardPrepViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

}  // namespace brindlecove
