#include "BrindlecoveApp/Platform/PanelFolder.hpp"

#include <QDir>
#include <QFileInfo>

namespace brindlecove::PanelFolder {

QString orHome(const QString& folder) {
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}

}  // namespace brindlecove::PanelFolder
