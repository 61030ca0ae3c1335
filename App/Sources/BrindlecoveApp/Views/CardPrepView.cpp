#include "BrindlecoveApp/Views/CardPrepView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeCardPrepView(MainWindow&) { return new PlaceholderScreen(AppSection::eraseCard); }

}  // namespace brindlecove
