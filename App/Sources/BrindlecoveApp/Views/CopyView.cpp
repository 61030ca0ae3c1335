#include "BrindlecoveApp/Views/CopyView.hpp"

#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

namespace brindlecove {

QWidget* makeCopyView(MainWindow&) { return new PlaceholderScreen(AppSection::copy); }

}  // namespace brindlecove
