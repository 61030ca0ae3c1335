#include "BrindlecoveApp/Views/ProductionLogView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeProductionLogView(MainWindow&) { return new PlaceholderScreen(AppSection::productionLog); }

}  // namespace brindlecove
