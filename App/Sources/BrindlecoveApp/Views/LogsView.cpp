#include "BrindlecoveApp/Views/LogsView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeLogsView(MainWindow&) { return new PlaceholderScreen(AppSection::logs); }

}  // namespace brindlecove
