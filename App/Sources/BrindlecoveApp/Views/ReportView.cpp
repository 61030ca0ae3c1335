#include "BrindlecoveApp/Views/ReportView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeReportView(MainWindow&) { return new PlaceholderScreen(AppSection::report); }

}  // namespace brindlecove
