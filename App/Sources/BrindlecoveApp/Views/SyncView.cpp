#include "BrindlecoveApp/Views/SyncView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeSyncView(MainWindow&) { return new PlaceholderScreen(AppSection::sync); }

}  // namespace brindlecove
