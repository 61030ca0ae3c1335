#include "BrindlecoveApp/Views/ScanView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeScanView(MainWindow&) { return new PlaceholderScreen(AppSection::scan); }

}  // namespace brindlecove
